"""The Wine host: a Wine prefix of its own for one test session, where the
Windows programs run for real. (windows_host.WindowsHost is the other host.)

With KELDRA_E2E_PORTABLE=1 every debug channel is off: the suite then shows
what it would show on Windows, and each check that nothing but one of Wine's
channels can make is skipped and counted (see wine_only).

What a failure needs to be explained is written to the session's log
directory (below KELDRA_E2E_LOGS, by default <build root>/e2e-logs), which is
kept when a test failed and removed otherwise:

  services-trace.log  the trace of services.exe and of every service process
                      it starts (status reports, controls received, event-log
                      entries, process creations, each with its time)
  wineserver.log      the wineserver's own stderr (protocol errors, crashes)
  programs.log        every Windows program a test ran: command line, exit
                      code, time taken, stdout and stderr
"""
import collections
import ctypes
import os
import pathlib
import re
import shutil
import signal
import subprocess
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD_ROOT = pathlib.Path(os.environ.get("KELDRA_BUILD_ROOT", REPO / "build"))
BUILD = BUILD_ROOT / "windows"
DIST = pathlib.Path(os.environ.get("KELDRA_DIST", REPO / "dist"))
FIXTURES = BUILD / "tests" / "fixtures"
LOGS = pathlib.Path(os.environ.get("KELDRA_E2E_LOGS", BUILD_ROOT / "e2e-logs"))

# Channels of services.exe and of the processes it starts. +timestamp gives
# each line the session's tick count in seconds, so the tests time what the
# agent did from its own trace lines rather than from when a client process
# happened to run; +process shows each CreateProcessW with its command line.
SERVICE_TRACE_CHANNELS = "+timestamp,+pid,+service,+eventlog,+process,fixme-all"

# Windows gives a control handler 30 s; Wine's service manager gives 10 s
# unless ServicesPipeTimeout says otherwise, reads that value only as a
# string (REG_SZ) and only when it starts. The agent waits up to 9970 ms on
# its pause token, so under 10 s a loaded machine answers late. The value is
# written into the registry file before the session's first command, so the
# session's one service manager starts with it; the session then checks that
# a control answered after 10.5 s succeeds.
PIPE_TIMEOUT_MS = 30000
SEEDED_REGISTRY = ("WINE REGISTRY Version 2\n"
                   ";; All keys relative to \\\\Machine\n\n"
                   "#arch=win64\n\n"
                   "[System\\\\CurrentControlSet\\\\Control]\n"
                   f'"ServicesPipeTimeout"="{PIPE_TIMEOUT_MS}"\n\n')
CHECK_SERVICE = "KeldraPipeTimeoutCheck"
SLOW_CONTROL = 200  # answered by the stub service after 10.5 s

WINE_STATUS_1 = ("a Linux-side exit status 1 is not proof that the program returned 1: Wine also "
                 "gives 1 for any Windows exit code whose low byte is 0 and when a wineserver "
                 "protocol error ends the process (see wineserver.log)")


# Every session's prefix is <temporary directory>/keldra-wine-<random>/pfx.
SESSION_ROOT_PREFIX = "keldra-wine-"
VALUE_LINE = re.compile(r"^    (\S.*?)    (REG_\w+)    (.*)$")
# reg.exe's one answer when RegOpenKeyExW fails; anything else is no answer.
NO_SUCH_KEY = b"Unable to find the specified registry key"


# The wineserver the sessions run with: Debian's Wine 8 server with the fix
# that scripts/build-wineserver applies (its stock server crashes when the
# fixtures read the system's handle table while a process starts), a link
# to the system's own where Wine has the fix (Wine 10), or WINESERVER's.
SERVER = os.environ.get("WINESERVER") or str(BUILD_ROOT / "wine-server" / "wineserver")


# Debian's wine64 has no preloader and is linked at 0x7d000000; Linux puts
# its brk heap at a random offset of up to 1 GiB above that, and about once
# in a thousand starts the heap covers 0x7ffe0000, where Wine must map the
# shared user data page: the program then ends with exit status 1 before
# its first instruction ("failed to map the shared user data: c0000018").
# Programs started without address randomisation have their heap right
# after the loader. The flag is inherited by every process started later.
ADDR_NO_RANDOMIZE = 0x0040000


# KELDRA_E2E_HOST=windows runs the suite on this Windows machine itself.
ON_WINDOWS = os.environ.get("KELDRA_E2E_HOST") == "windows"
# The installed Wine's version, e.g. (10, 0) from "wine-10.0 (Debian 10.0~repack-6)": a known
# difference from Windows holds only on the versions that show it.
WINE_VERSION = () if ON_WINDOWS else tuple(int(n) for n in re.match(
    r"wine-(\d+)\.(\d+)", subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout).groups())
PORTABLE = os.environ.get("KELDRA_E2E_PORTABLE") == "1"

# (why nothing else shows it, whether the check ran) -> how many checks.
WINE_ONLY = collections.Counter()


def exit_status(code):
    """A Windows exit code as the host's run() gives it: whole on Windows,
    its low byte under Wine (a Linux exit status), 1 where that byte is 0."""
    return code if ON_WINDOWS or code == 0 else (code & 0xFF or 1)


def wine_only(host, why):
    """Whether a check that only one of Wine's debug channels can make runs
    on this host: under Wine with its traces on. Counted either way."""
    WINE_ONLY[why, host.traced] += 1
    return host.traced


# Why a program whose own path is MAX_PATH (260) characters or longer cannot
# be started on Windows, by Python as by any other caller.
LONG_MODULE_PATH = ('CreateProcessW: "the module name portion of lpCommandLine is limited to MAX_PATH '
                    'characters"')


def wait_for_installer(host, timeout=600):
    """Waits until no other installation holds the Windows Installer, whose
    next one would end with 1618 (ERROR_INSTALL_ALREADY_RUNNING): a freshly
    booted Windows may still be installing something."""
    result = host.run(FIXTURES / "scmclient.exe", "installer", timeout * 1000, timeout=timeout + 60)
    assert result.returncode == 0, (f"the Windows Installer was still busy with another installation after "
                                    f"{timeout} s (it held Global\\_MSIExecute): " + outcome(result))


def require_wine(host, why):
    """Skips a case that cannot run on a Windows host at all."""
    if host.kind != "wine":
        import pytest
        pytest.skip("Wine only: " + why)


def without_address_randomization():
    libc = ctypes.CDLL(None, use_errno=True)
    current = libc.personality(0xFFFFFFFF)
    if current == -1 or libc.personality(current | ADDR_NO_RANDOMIZE) == -1:
        raise OSError(ctypes.get_errno(), "personality(ADDR_NO_RANDOMIZE) refused")


def prefix_processes(prefix=None):
    """(Linux pid, command line, WINEPREFIX) of every process that runs with
    the given WINEPREFIX, or of every test session's prefix when None.
    Read from /proc, so it finds them also once their wineserver is gone;
    processes of another root (a chroot's sessions, or the host's seen from
    one) have prefixes of the same names and are left alone."""
    found = []
    root = os.stat("/")
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            if not os.path.samestat(os.stat(entry / "root"), root):
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("latin-1").strip()
        except OSError:
            continue
        value = next((v[len(b"WINEPREFIX="):].decode("latin-1") for v in environ
                      if v.startswith(b"WINEPREFIX=")), None)
        if value is None:
            continue
        ours = (value == str(prefix) if prefix is not None
                else pathlib.Path(value).parent.name.startswith(SESSION_ROOT_PREFIX))
        if ours:
            found.append((int(entry.name), cmdline, value))
    return found


def end_processes(processes, timeout=10.0):
    """SIGKILLs each process and waits until none is left; returns those left."""
    for pid, _, _ in processes:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + timeout
    left = processes
    while left and time.monotonic() < deadline:
        time.sleep(0.1)
        left = [p for p in left if pathlib.Path(f"/proc/{p[0]}").exists() and not zombie(p[0])]
    return left


def zombie(pid):
    try:
        return pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except (OSError, IndexError):
        return True


def orphaned_processes():
    """Processes of test sessions that have ended: their prefix is gone (a
    session ends its processes before it removes its prefix), or the pytest
    that made the prefix has died without a teardown."""
    return [p for p in prefix_processes() if not session_alive(pathlib.Path(p[2]).parent)]


def session_alive(root):
    try:
        owner = int((root / "owner.pid").read_text())
    except (OSError, ValueError):
        return False
    return pathlib.Path(f"/proc/{owner}").exists() and not zombie(owner)


def end_orphaned_sessions():
    return end_processes(orphaned_processes())


def excerpt(data, limit=4000):
    """The end of a program's output, as text, for a failure message."""
    text = data.decode("utf-8", "replace") if isinstance(data, bytes) else str(data or "")
    return text if len(text) <= limit else "[... " + str(len(text) - limit) + " characters]" + text[-limit:]


def outcome(result):
    """Exit code, stdout and stderr of a finished Windows program, for an
    assertion's message."""
    lines = [f"exit code {result.returncode}"]
    if result.returncode == 1 and not ON_WINDOWS:
        lines[0] += f" ({WINE_STATUS_1})"
    lines.append(f"stdout: {result.stdout[:2000]!r}")
    lines.append("stderr:\n" + excerpt(result.stderr))
    return "\n".join(lines)


class ProgramRun:
    """One Windows program a test ran, as the failure report shows it."""

    def __init__(self, args):
        self.args = [str(a) for a in args]
        self.started = time.monotonic()
        self.seconds = None
        self.result = None
        self.process = None  # for a program left running (spawn)

    def describe(self):
        head = "$ " + subprocess.list2cmdline(self.args)
        if self.result is not None:
            return f"{head}\n({self.seconds:.1f} s) {outcome(self.result)}"
        state = "still running" if self.process.poll() is None else f"exit code {self.process.returncode}"
        return f"{head}\n(started in the background) {state}"


def place_file(host, source, relative):
    """Copies a built file below the host's drive_c; returns its Windows path."""
    target = host.drive_c.joinpath(*relative)
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(source, target)
    return host.windows_path(target)


def run_program(host, args, env, timeout, **kwargs):
    """Runs a program on a host and records the run for a failure report."""
    record = ProgramRun(args)
    host.runs.append(record)
    try:
        record.result = subprocess.run(record.args, env=host.environment(env), stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=timeout, **kwargs)
    except (subprocess.TimeoutExpired, OSError) as failed:
        what = f"cut off after {timeout} s" if isinstance(failed, subprocess.TimeoutExpired) else str(failed)
        output = [getattr(failed, stream, None) or b"" for stream in ("stdout", "stderr")]
        record.result = subprocess.CompletedProcess(record.args, f"none ({what})", *output)
        raise
    finally:
        record.seconds = time.monotonic() - record.started
        with open(host.logs / "programs.log", "a", encoding="utf-8") as log:
            log.write(record.describe() + "\n\n")
    return record.result


def spawn_program(host, args, env, **kwargs):
    """Starts a program on a host in the background, its output piped."""
    record = ProgramRun(args)
    record.process = subprocess.Popen(record.args, env=host.environment(env), stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    host.runs.append(record)
    return record.process


class WineSession:
    kind = "wine"
    traced = not PORTABLE
    start_limit = 10  # seconds Wine's service manager waits for a start
    account_password = "S3cret pass!"  # Wine's service manager drops it unchecked

    def __init__(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix=SESSION_ROOT_PREFIX))
        self.prefix = self.root / "pfx"
        LOGS.mkdir(parents=True, exist_ok=True)
        self.logs = pathlib.Path(tempfile.mkdtemp(prefix=time.strftime("session-%Y%m%d-%H%M%S-"), dir=LOGS))
        self.trace_path = self.logs / "services-trace.log"
        self.wineserver_log = self.logs / "wineserver.log"
        self.runs = []
        self.keep_logs = False
        self.pipe_timeout_check = None
        self.pipe_timeout_checked = None
        self.own_processes_at_start = set()
        self.env = dict(os.environ)
        # err+virtual: a Wine program that fails to set up its address space
        # ends with exit status 1 before its first line, and says why only
        # on that channel; a failure report then shows it.
        self.env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all" if PORTABLE else "-all,err+virtual",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINESERVER=SERVER)

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    @property
    def program_files(self):
        return self.drive_c / "Program Files"

    def start(self):
        assert os.access(SERVER, os.X_OK), f"no wineserver at {SERVER}: run scripts/setup, or set WINESERVER"
        end_orphaned_sessions()
        without_address_randomization()
        (self.root / "owner.pid").write_text(str(os.getpid()))
        self.prefix.mkdir()
        (self.prefix / "system.reg").write_text(SEEDED_REGISTRY)
        with open(self.wineserver_log, "wb") as log:
            subprocess.run([SERVER, "-p"], env=self.env, check=True,
                           stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        # The first command of the session creates the prefix and starts
        # services.exe; the services it starts later inherit this environment
        # and this stderr. It must not be wineboot itself: wineboot run after
        # the automatic creation starts a second services.exe, and the two
        # then answer the service control calls by turns, each with its own
        # view of the services.
        boot_env = dict(self.env, WINEDEBUG=SERVICE_TRACE_CHANNELS if self.traced else "-all")
        with open(self.trace_path, "wb") as trace:
            boot = subprocess.run(["wine", "cmd", "/c", "exit"], env=boot_env, timeout=300,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=trace)
        assert boot.returncode == 0, (f"the Wine session did not start: exit code {boot.returncode}; "
                                      f"see {self.trace_path} and {self.wineserver_log}")
        self.begin_pipe_timeout_check()
        # The check's client by its pid: just after its start /proc may not
        # show its environment yet.
        self.own_processes_at_start = ({process[0] for process in self.own_processes()} |
                                       {self.pipe_timeout_check.pid})

    def begin_pipe_timeout_check(self):
        """Starts a service whose handler answers a control after 10.5 s and
        sends it that control; confirm_pipe_timeout collects the answer, so
        the wait overlaps the first tests."""
        stub = self.place(FIXTURES / "stubservice.exe", "session", "stubservice.exe")
        scm = FIXTURES / "scmclient.exe"
        for args in (["create", CHECK_SERVICE, stub + " prompt"], ["start", CHECK_SERVICE]):
            result = self.run(scm, *args)
            assert result.returncode == 0, outcome(result)
        self.pipe_timeout_check = self.spawn(scm, "control", CHECK_SERVICE, SLOW_CONTROL)

    def confirm_pipe_timeout(self):
        """Fails unless the service manager waited past 10 s for a control."""
        if self.pipe_timeout_checked is None:
            out, err = self.pipe_timeout_check.communicate(timeout=120)
            scm = FIXTURES / "scmclient.exe"
            self.run(scm, "purge", CHECK_SERVICE)
            self.pipe_timeout_checked = (self.pipe_timeout_check.returncode, out, err)
        code, out, err = self.pipe_timeout_checked
        assert code == 0, (
            f"the service manager did not wait {PIPE_TIMEOUT_MS} ms for a control handler, so it has not "
            f"read ServicesPipeTimeout from {self.prefix / 'system.reg'}: scmclient control exit code "
            f"{code}, stdout {out!r} (error 1053 is the manager's time-out), stderr:\n{excerpt(err)}")

    def settle(self, timeout=60):
        """Waits until no service start is pending and RpcSs runs: under Wine
        a process that calls StartServiceCtrlDispatcherW from a console can
        take over a start that the service manager has under way."""
        result = self.run(FIXTURES / "scmclient.exe", "settle", int(timeout * 1000), timeout=timeout + 60)
        assert result.returncode == 0, "service starts still pending: " + outcome(result)

    def stop(self):
        """Ends every process of the session, also when its wineserver is
        gone and `wineserver -k` reaches none of them."""
        if self.pipe_timeout_check is not None and self.pipe_timeout_check.poll() is None:
            self.pipe_timeout_check.kill()
            self.pipe_timeout_check.communicate()
        subprocess.run([SERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)
        try:
            subprocess.run([SERVER, "-w"], env=self.env, stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            pass
        left = end_processes(self.processes())
        shutil.rmtree(self.root, ignore_errors=True)
        if not self.keep_logs:
            shutil.rmtree(self.logs, ignore_errors=True)
        assert not left, f"processes of the session outlived SIGKILL: {left}"

    @staticmethod
    def service_name(base):
        return base

    end_processes = staticmethod(end_processes)

    def processes(self):
        """(Linux pid, command line, prefix) of every process of this session."""
        return prefix_processes(self.prefix)

    def own_processes(self):
        """The session's processes that are not Wine's own (its server and
        the programs under C:\\windows): the programs, services and fixtures
        the tests started, and whatever those started in turn."""
        return [process for process in self.processes()
                if not process[1].lower().startswith(("c:\\windows\\", "/usr/lib/wine/", SERVER.lower()))]

    def reg_values(self, key):
        """The values of a registry key as {name: (type, data)}; None when
        reg.exe says that the key does not exist. Any other outcome fails:
        a query that did not run is no evidence that the key is absent."""
        result = self.run("reg", "query", key)
        if result.returncode == 1 and NO_SUCH_KEY in result.stdout + result.stderr:
            return None
        assert result.returncode == 0, f"reg query {key} gave no answer: " + outcome(result)
        return {m.group(1): (m.group(2), m.group(3)) for m in
                map(VALUE_LINE.match, result.stdout.decode("utf-8", "replace").splitlines()) if m}

    def windows_path(self, path):
        """The Windows name of a file below drive_c."""
        relative = pathlib.Path(path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + "\\".join(relative.parts)

    def place(self, source, *relative):
        return place_file(self, source, relative)

    def run(self, program, *args, env=None, timeout=120, **kwargs):
        """Runs a Windows program; stdout and stderr are bytes as written.

        The exit code is the Linux-side status of the wine process: only its
        low 8 bits, and 1 can come from Wine itself (see WINE_STATUS_1)."""
        return run_program(self, ["wine", program, *args], env, timeout, **kwargs)

    def spawn(self, program, *args, env=None, **kwargs):
        return spawn_program(self, ["wine", program, *args], env, **kwargs)

    def environment(self, changes):
        """The session's environment with changes; a value None removes the variable."""
        merged = dict(self.env)
        merged.update(changes or {})
        return {name: value for name, value in merged.items() if value is not None}

    def mark(self):
        """Where the service trace ends now; pass it to trace_since."""
        return self.trace_path.stat().st_size

    def trace_since(self, mark):
        with open(self.trace_path, "rb") as f:
            f.seek(mark)
            return f.read().decode("latin-1")

    def failure_report(self, first_run):
        """What the Windows programs run since first_run did, for a failed test."""
        parts = [record.describe() for record in self.runs[first_run:]]
        parts.append(f"session logs (kept): {self.logs}")
        try:
            server = self.wineserver_log.read_text("utf-8", "replace").strip()
        except OSError:
            server = ""
        if "wineserver crashed" in server:
            # Every Windows program of the session runs through the one
            # wineserver; once it has died, what the session held (services
            # registered since, running services) is gone, and each later
            # failure follows from that, not from the programs under test.
            parts.insert(0, "THE WINESERVER CRASHED during this session: Wine itself failed, and the "
                            "failures from then on follow from it (see wineserver.log)")
        if server:
            parts.append("wineserver.log:\n" + excerpt(server, 2000))
        return "\n\n".join(parts)
