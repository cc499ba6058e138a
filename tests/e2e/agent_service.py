"""keldraagent as a service under the host's Service Control Manager: one
directory per service in drive_c with the agent and the test worker beside
it, the SCM client for every control and every state, and the worker's own
records, timed by the performance counter (one clock for all processes).

Under Wine with its traces on, the session's trace also shows each status
report, message and process creation of the service process, in order and
with its times: checks of those are Wine-only (wine_session.wine_only). On
Windows the messages come from the Application log instead."""
import collections
import re
import threading
import time

from wine_session import FIXTURES, outcome, wine_only

# <seconds>:<pid>:<tid>:trace:<channel>:<function> <rest>
TRACE_LINE = re.compile(r"^(\d+\.\d+):([0-9a-f]{4}):[0-9a-f]{4}:trace:(\w+):(\w+) (.*?)\r?$", re.M)
STATUS = re.compile(r"^\S+ 0x10 (\S+) (\S+) (\S+) (\S+) (\S+) (\S+)$")
EVENT = re.compile(r'^L"(.*)"$')
LAUNCH = re.compile(r'^app \S+ cmdline L"(.*)"$')
CONTROL = re.compile(r'^L".*?" control (\d+) ')
RESTARTED = "Worker application restarted."
SERVICES = "HKLM\\System\\CurrentControlSet\\Services"
EVENT_SOURCES = SERVICES + "\\EventLog\\Application"
# Each line keldraagent writes to its console starts so.
TIMESTAMP = rb"\d{4}-\d\d-\d\d\.\d\d:\d\d:\d\d"

STOPPED, START_PENDING, STOP_PENDING, RUNNING, PAUSED = 1, 2, 3, 4, 7

# What only Wine's trace shows, and why nothing else does.
REPORTS = "every status report with its check point and wait hint: the service manager keeps only the last"
LAUNCHES = "every process creation, also one that failed, with its command line and time"
HANDLED = "each control the handler received: the manager's answer does not say the handler ran"

# What a service process did, from one trace line: kind is "status" (value:
# state, accepted, win32 exit, specific exit, check point, wait hint),
# "event" (the message as the trace escapes it), "launch" (the command line
# of a process it started) or "control" (the code its handler received);
# position orders steps logged within the same millisecond.
Step = collections.namedtuple("Step", "time kind value position")


def number(text):
    return int(text, 16) if text.startswith("0x") else int(text)


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def parse_fields(line):
    """'state=4 checkpoint=1 ...' -> {'state': 4, 'checkpoint': 1, ...}"""
    return {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", line)}


# (channel, function) -> (kind, what the rest of the line holds, its value)
STEP_LINES = {
    ("service", "SetServiceStatus"): ("status", STATUS, lambda m: tuple(number(v) for v in m.groups())),
    ("eventlog", "ReportEventW"): ("event", EVENT, lambda m: m.group(1)),
    ("process", "CreateProcessInternalW"): ("launch", LAUNCH, lambda m: unescape(m.group(1))),
    ("service", "service_handle_control"): ("control", CONTROL, lambda m: int(m.group(1))),
}


def steps_of(trace, windows_pid, mark=0):
    found = []
    for line in TRACE_LINE.finditer(trace):
        seconds, pid, channel, function, rest = line.groups()
        kind, pattern, value = STEP_LINES.get((channel, function), (None, None, None))
        match = pattern.match(rest) if pid == f"{windows_pid:04x}" and pattern else None
        if match:
            found.append(Step(float(seconds), kind, value(match), mark + line.start()))
    return found


class AgentService:
    def __init__(self, host, fixtures, dist, name, folder=None, options=""):
        self.host = host
        self.fixtures = fixtures
        self.name = host.service_name(name)
        self.directory = host.drive_c.joinpath(*(folder or ["svc", name]))
        self.agent = host.place(dist / "keldraagent.exe", *self.directory.relative_to(host.drive_c).parts,
                                "keldraagent.exe")
        self.options = options
        self.library = dist / "vossevent.dll"
        # Where the session's trace stood before the service was started:
        # Wine reuses process ids, so a line of the same id before it is
        # another process's.
        self.started_at = None

    def place_worker(self, *behaviour_lines):
        self.host.place(self.fixtures / "keldraworker.exe", *self.directory.relative_to(self.host.drive_c).parts,
                        "keldraworker.exe")
        self.set_behaviour(*behaviour_lines)

    def events_shown(self):
        """Windows keeps its event log; Wine's is a stub, which only its
        trace makes up for."""
        return self.host.kind == "windows" or wine_only(self.host, "event texts: Wine's event log is a stub")

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
        result = self.host.run(self.fixtures / "scmclient.exe", *args, timeout=timeout)
        return result.returncode, result.stdout.decode("latin-1")

    def create(self):
        """Registers the service as demand-started, with the options given."""
        command_line = f'"{self.agent}" RUN {self.name}' + (f" {self.options}" if self.options else "")
        code, output = self.scm("create", self.name, command_line)
        assert code == 0, output

    def install(self):
        """Registers the service with keldraagent INSTALL itself, to run as
        LocalSystem: Windows starts no service under an account whose
        password is wrong (1069). The message library goes beside it, where
        INSTALL registers it, so that Windows' events are read as rendered."""
        self.host.place(self.library, *self.directory.relative_to(self.host.drive_c).parts, "vossevent.dll")
        result = self.host.run(self.agent, "INSTALL", self.name, "-u", "LocalSystem")
        assert (result.returncode, result.stdout) == (0, b""), outcome(result)

    def start(self):
        self.started_at = self.host.mark()
        self.started_time = time.monotonic()
        code, output = self.scm("start", self.name)
        assert code == 0, output

    def control(self, code):
        """Sends a control code; returns (exit code, status fields, elapsed seconds).

        The agent reports STOPPED from its handler. Windows answers the stop
        from the dispatcher's thread before StartServiceCtrlDispatcherW
        returns; Wine lets the process end first, now and then, and the
        client gets 109 (broken pipe): such a stop counts as answered once
        the manager reports STOPPED."""
        exit_code, output = self.scm("control", self.name, code)
        fields = parse_fields(output)
        if (code, exit_code, fields.get("error"), self.host.kind) == (1, 1, 109, "wine"):
            exit_code, fields["state"] = 0, self.wait_for_state(STOPPED)["state"]
        return exit_code, fields, fields.get("elapsed_ms", 0) / 1000.0

    def query(self):
        code, output = self.scm("query", self.name)
        assert code == 0, output
        return parse_fields(output)

    def wait_for_state(self, state, timeout=None):
        timeout = timeout or max(30, self.host.start_limit)
        code, output = self.scm("wait", self.name, state, int(timeout * 1000))
        assert code == 0, f"{self.name} did not reach state {state}: {output}"
        return parse_fields(output)

    # The service process, as its trace shows it: lines of its id from the
    # mark on, and never from before the service was started.
    def steps(self, windows_pid, mark=0, kind=None):
        assert self.started_at is not None, f"{self.name} was never started"
        assert self.host.traced, "only Wine's trace shows steps: check them under wine_only"
        mark = max(mark, self.started_at)
        found = steps_of(self.host.trace_since(mark), windows_pid, mark)
        return [step for step in found if kind is None or step.kind == kind]

    def wait_for_steps(self, windows_pid, kind, count, mark=0, timeout=30.0):
        """Waits until the trace shows count steps of a kind; returns them."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.steps(windows_pid, mark, kind)
            if len(found) >= count or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        assert len(found) >= count, f"{self.name}: {len(found)} '{kind}' steps, wanted {count}: {found}"
        return found

    def check_point(self, windows_pid):
        """The check point of the last status report, where the trace shows it."""
        return self.statuses(windows_pid)[-1][4] if wine_only(self.host, REPORTS) else None

    def statuses(self, windows_pid, mark=0):
        """(state, accepted, win32 exit, specific exit, check point, wait hint) of each report."""
        return [step.value for step in self.steps(windows_pid, mark, "status")]

    def events(self, windows_pid, mark=None, count=0):
        if self.host.kind == "windows":
            return self.host.events(self.name, self.started_at if mark is None else mark, count)
        return [step.value for step in self.steps(windows_pid, mark or 0, "event")]


def seconds(entry):
    """When a record or a notice was made, on the performance counter."""
    return entry["qpc_us"] / 1e6


def add_service(host, name, command_line, start=False):
    """Registers a service (under the host's name for it) as any program
    would; when start is set, starts it and waits until it runs."""
    name = host.service_name(name)
    for args in (["create", name, command_line], ["start", name], ["wait", name, RUNNING, 60000])[:3 if start else 1]:
        result = host.run(FIXTURES / "scmclient.exe", *args)
        assert result.returncode == 0, outcome(result)
    return name


def system_text(host, code):
    """The system's text for an error code, as the agent reports it."""
    result = host.run(FIXTURES / "messageprobe.exe", "system", code)
    assert result.returncode == 0, outcome(result)
    return result.stdout.rstrip(b"\0")


def probe(host, fixtures, *args):
    result = host.run(fixtures / "processprobe.exe", *args)
    return result.stdout.decode("latin-1")


def alive(host, fixtures, *pids):
    output = probe(host, fixtures, "alive", *pids)
    return {int(pid): state == "alive" for pid, state in re.findall(r"(\d+) (alive|gone)", output)}


def wait_until_gone(host, fixtures, pids, timeout=15.0):
    deadline = time.monotonic() + timeout
    while True:
        states = alive(host, fixtures, *pids)
        if not any(states.values()) or time.monotonic() > deadline:
            return states
        time.sleep(0.3)


def first_line(process, timeout):
    """The first line of a process's piped output, or b"" when none comes in
    time. Read in a thread: select() takes no pipes on Windows."""
    line = []
    reader = threading.Thread(target=lambda: line.append(process.stdout.readline()), daemon=True)
    reader.start()
    reader.join(timeout)
    return line[0] if line else b""


def watch_exit(host, fixtures, windows_pid, timeout_ms=120000):
    """A processprobe that holds the process and prints its exit code when it
    ends; returned once it holds it (on a loaded machine starting it can take
    seconds)."""
    watcher = host.spawn(fixtures / "processprobe.exe", "wait", windows_pid, timeout_ms)
    first = first_line(watcher, 60).decode().split()
    if first != ["waiting"]:
        watcher.kill()
        raise AssertionError(f"watcher not ready: {first} {watcher.communicate()[1][-2000:]!r}")
    return watcher


def serve(made, installed=()):
    """Registers each service (by INSTALL for those in installed), starts
    them all and yields them; then stops each (ending what is left after the
    wait) and deletes it, so that nothing is left for a later service
    manager to start, also after a failed test."""
    for service in made.values():
        if service in installed:
            service.install()
        else:
            service.create()
    for service in made.values():
        service.start()
    yield made
    for service in made.values():
        service.scm("purge", service.name)
