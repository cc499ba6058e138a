"""keldraagent as a service under Wine's Service Control Manager: one
directory per service in drive_c with the agent and the test worker beside
it, the SCM client for every control, and the service process's status
reports and event-log messages read from the session's trace."""
import os
import pathlib
import re
import signal
import subprocess
import time

from wine_session import SERVICE_TRACE_CHANNELS

STATUS = re.compile(r"^([0-9a-f]{4}):[0-9a-f]{4}:trace:service:SetServiceStatus \S+ 0x10 "
                    r"(\S+) (\S+) (\S+) (\S+) (\S+) (\S+)\r?$", re.M)
EVENT = re.compile(r'^([0-9a-f]{4}):[0-9a-f]{4}:trace:eventlog:ReportEventW L"(.*)"\r?$', re.M)
RESTARTED = "Worker application restarted."

STOPPED, START_PENDING, STOP_PENDING, RUNNING, PAUSED = 1, 2, 3, 4, 7


def number(text):
    return int(text, 16) if text.startswith("0x") else int(text)


def parse_fields(line):
    """'state=4 checkpoint=1 ...' -> {'state': 4, 'checkpoint': 1, ...}"""
    return {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", line)}


def wine_processes(wine):
    """(Linux pid, command line) of every process of this session's prefix."""
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            environ = (entry / "environ").read_bytes().split(b"\0")
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("latin-1").strip()
        except OSError:
            continue
        if f"WINEPREFIX={wine.prefix}".encode() in environ:
            found.append((int(entry.name), cmdline))
    return found


def restart_service_manager(wine):
    """A service manager that waits for control handlers as long as Windows
    does.

    Wine's manager gives a control handler 10 s (ServicesPipeTimeout) where
    Windows gives 30 s, so a handler that waits 9970 ms on the pause token
    can be cut off on a loaded machine and the next control then fails. The
    manager reads the value when it starts: so Windows' 30 s, then a fresh
    manager (any that runs is ended first, so there is only ever one) with
    the session's trace channels, its trace appended to the session's."""
    wine.run("reg", "add", r"HKLM\System\CurrentControlSet\Control", "/v", "ServicesPipeTimeout",
             "/t", "REG_DWORD", "/d", "30000", "/f")
    managers = [pid for pid, cmdline in wine_processes(wine) if cmdline.endswith("services.exe")]
    for pid in managers:
        os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + 10
    while any(pathlib.Path(f"/proc/{pid}").exists() for pid in managers) and time.monotonic() < deadline:
        time.sleep(0.1)
    with open(wine.trace_path, "ab") as trace:
        subprocess.run(["wineboot"], env=dict(wine.env, WINEDEBUG=SERVICE_TRACE_CHANNELS), check=True,
                       timeout=120, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=trace)


class AgentService:
    def __init__(self, wine, fixtures, dist, name, folder=None, options=""):
        self.wine = wine
        self.fixtures = fixtures
        self.name = name
        self.directory = wine.drive_c.joinpath(*(folder or ["svc", name]))
        self.agent = wine.place(dist / "keldraagent.exe", *self.directory.relative_to(wine.drive_c).parts,
                                "keldraagent.exe")
        self.options = options

    def place_worker(self, *behaviour_lines):
        self.wine.place(self.fixtures / "keldraworker.exe", *self.directory.relative_to(self.wine.drive_c).parts,
                        "keldraworker.exe")
        self.set_behaviour(*behaviour_lines)

    def set_behaviour(self, *lines):
        (self.directory / "keldraworker.behaviour").write_text("\n".join(lines) + "\n")

    # The worker's record.
    def records(self, kind):
        path = self.directory / "keldraworker.record"
        if not path.exists():
            return []
        found = []
        for line in path.read_text(encoding="utf-8").splitlines():
            word, _, rest = line.partition(" ")
            if word != kind:
                continue
            fields, _, command = rest.partition(" cmd=")
            entry = parse_fields(fields)
            if command:
                entry["cmd"] = command
            found.append(entry)
        return found

    def wait_for_records(self, kind, count, timeout=30.0):
        deadline = time.monotonic() + timeout
        while len(self.records(kind)) < count and time.monotonic() < deadline:
            time.sleep(0.1)
        found = self.records(kind)
        assert len(found) >= count, f"{self.name}: {len(found)} '{kind}' records, wanted {count}"
        return found

    # The Service Control Manager.
    def scm(self, *args, timeout=120):
        result = self.wine.run(self.fixtures / "scmclient.exe", *args, timeout=timeout)
        return result.returncode, result.stdout.decode("latin-1")

    def create(self):
        command_line = f'"{self.agent}" RUN {self.name}' + (f" {self.options}" if self.options else "")
        code, output = self.scm("create", self.name, command_line)
        assert code == 0, output

    def start(self):
        code, output = self.scm("start", self.name)
        assert code == 0, output

    def control(self, code):
        """Sends a control code; returns (exit code, status fields, elapsed seconds)."""
        exit_code, output = self.scm("control", self.name, code)
        fields = parse_fields(output)
        return exit_code, fields, fields.get("elapsed_ms", 0) / 1000.0

    def query(self):
        code, output = self.scm("query", self.name)
        assert code == 0, output
        return parse_fields(output)

    def wait_for_state(self, state, timeout=30):
        code, output = self.scm("wait", self.name, state, int(timeout * 1000))
        assert code == 0, f"{self.name} did not reach state {state}: {output}"
        return parse_fields(output)

    def delete(self):
        return self.scm("delete", self.name)

    # The service process, as its trace shows it.
    def trace_pid(self, windows_pid):
        return f"{windows_pid:04x}"

    def statuses(self, windows_pid, mark=0):
        """(state, accepted, win32 exit, specific exit, check point, wait hint) of each report."""
        prefix = self.trace_pid(windows_pid)
        return [tuple(number(v) for v in match[1:]) for match in STATUS.findall(self.wine.trace_since(mark))
                if match[0] == prefix]

    def events(self, windows_pid, mark=0):
        prefix = self.trace_pid(windows_pid)
        return [text for pid, text in EVENT.findall(self.wine.trace_since(mark)) if pid == prefix]


def probe(wine, fixtures, *args):
    result = wine.run(fixtures / "processprobe.exe", *args)
    return result.stdout.decode("latin-1")


def alive(wine, fixtures, *pids):
    output = probe(wine, fixtures, "alive", *pids)
    return {int(pid): state == "alive" for pid, state in re.findall(r"(\d+) (alive|gone)", output)}


def wait_until_gone(wine, fixtures, pids, timeout=15.0):
    deadline = time.monotonic() + timeout
    while True:
        states = alive(wine, fixtures, *pids)
        if not any(states.values()) or time.monotonic() > deadline:
            return states
        time.sleep(0.3)
