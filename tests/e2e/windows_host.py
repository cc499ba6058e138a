"""A real, disposable Windows machine as the tests' host: the programs run
directly, from a folder of the session's own under Program Files. Every
service and event source the tests register is named KeldraE2E<the session's
random part><name>, so a session removes its own and what an earlier one
left. programs.log in the session's log directory (below KELDRA_E2E_LOGS,
by default <build root>/e2e-logs) holds every program a test ran."""
import ctypes
import os
import pathlib
import re
import secrets
import shutil
import subprocess
import tempfile
import time

from wine_session import FIXTURES, LOGS, outcome, place_file, run_program, spawn_program, wait_for_installer

try:
    import winreg
except ImportError:  # not Windows: the module still imports for collection
    winreg = None

PREFIX = "KeldraE2E"
# INSTALL's default account (.\Administrator) must exist for a service to be
# registered under it (1057); GitHub's images have renamed the built-in one.
ACCOUNT = "Administrator"
PROBE_PRODUCTS = "Keldra probe KeldraProbe-"
UNINSTALL = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
CONSENT = "KELDRA_E2E_ON_THIS_MACHINE"
EVENT_SOURCES = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"
EVENT_LINE = re.compile(r"^record=\d+ id=(\d+) type=(\d+) category=(\d+) text=(.*)$")
# Every process with its program, in one call; the filter is ours, so no
# path needs quoting for PowerShell. Without a console the encoding cannot
# be set, and then only the folder's ASCII part has to match.
PROCESS_LIST = ("try { [Console]::OutputEncoding = [Text.Encoding]::UTF8 } catch {}; Get-CimInstance Win32_Process"
                " | ForEach-Object { ($_.ProcessId, $_.ExecutablePath, $_.CommandLine) -join [char]9 }")
SYNCHRONIZE, WAIT_TIMEOUT = 0x00100000, 0x102
TYPE_NAMES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD",
              7: "REG_MULTI_SZ", 11: "REG_QWORD"}


def rendered(kind, data):
    """A value's data as `reg query` prints it."""
    if kind in (4, 11):
        return f"0x{data:x}"
    if kind == 7:
        return "\\0".join(data)
    return data.hex().upper() if isinstance(data, bytes) else "" if data is None else str(data)


def unescaped(text):
    """An event's text as `scmclient events` escapes it (\\r \\n \\\\)."""
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), text)


def open_key(key):
    """An open key for "HKLM\\..." or "HKEY_LOCAL_MACHINE\\..."; None when it does not exist."""
    root, _, path = key.partition("\\")
    root = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}.get(root.upper(), root.upper())
    try:
        return winreg.OpenKey(getattr(winreg, root), path)
    except FileNotFoundError:
        return None


def alive(pid):
    kernel32 = ctypes.WinDLL("kernel32")
    kernel32.OpenProcess.restype = ctypes.c_void_p  # a handle is pointer-sized
    handle = kernel32.OpenProcess(SYNCHRONIZE, False, pid)
    if not handle:
        return False
    running = kernel32.WaitForSingleObject(ctypes.c_void_p(handle), 0) == WAIT_TIMEOUT
    kernel32.CloseHandle(ctypes.c_void_p(handle))
    return running


class WindowsHost:
    kind = "windows"
    traced = False

    def __init__(self):
        self.tag = secrets.token_hex(3)
        self.program_files = pathlib.Path(os.environ.get("ProgramFiles", "C:\\Program Files"))
        # Not C:\, whose new folders give Authenticated Users Modify: INSTALL
        # warns when anyone but the system and administrators can change it.
        self.drive_c = self.program_files / f"{PREFIX}-{self.tag}"
        LOGS.mkdir(parents=True, exist_ok=True)
        self.logs = pathlib.Path(tempfile.mkdtemp(prefix=time.strftime("session-%Y%m%d-%H%M%S-"), dir=LOGS))
        self.runs = []
        self.keep_logs = False
        self.started = False  # only then does stop change the machine
        self.own_processes_at_start = set()
        # No service is started as ACCOUNT, so only where the host makes it
        # is this its password. Fourteen characters: net asks before it
        # takes a longer one; upper and lower case, digits and a symbol.
        self.account_password = "Kd7!" + secrets.token_hex(5)
        self.made_account = False

    @property
    def start_limit(self):
        """The service manager's wait for a start or a control, in seconds."""
        with open_key("HKLM\\SYSTEM\\CurrentControlSet\\Control") as key:
            try:
                milliseconds, kind = winreg.QueryValueEx(key, "ServicesPipeTimeout")
            except FileNotFoundError:
                return 30
        return milliseconds / 1000 if kind == winreg.REG_DWORD else 30

    def start(self):
        if os.environ.get(CONSENT) != "1":
            raise RuntimeError("the suite creates and deletes services and event sources; run it only on a "
                               f"disposable machine, with {CONSENT}=1")
        self.started = True
        left = self.remove(PREFIX, PREFIX + "-*")
        assert not left, f"what an earlier session left could not be removed: {left}"
        self.made_account = self.make_account()
        self.drive_c.mkdir()

    def make_account(self):
        """Makes ACCOUNT, marked with the comment PREFIX, when the machine has
        no account of that name (or sets the password of one an earlier
        session made); False when the account is the machine's own."""
        listed = subprocess.run(["net", "user", ACCOUNT], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if listed.returncode == 0 and PREFIX.encode() not in listed.stdout:
            return False
        made = subprocess.run(["net", "user", ACCOUNT, self.account_password,
                               *([] if listed.returncode == 0 else ["/add", "/comment:" + PREFIX])],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        assert made.returncode == 0, f"net user {ACCOUNT} could not be made: {outcome(made)}"
        return True

    def stop(self):
        left = self.remove(PREFIX + self.tag, self.drive_c.name) if self.started else []
        if self.made_account:
            gone = subprocess.run(["net", "user", ACCOUNT, "/delete"], stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=60)
            left += [] if gone.returncode == 0 else [f"the account {ACCOUNT}: {outcome(gone)}"]
        if not self.keep_logs:
            shutil.rmtree(self.logs, ignore_errors=True)
        assert not left, f"the session could not remove: {left}"

    def remove(self, names, folders):
        """Removes the services and event sources whose names begin with
        names, and the folders under Program Files that match folders with
        the processes run from them; returns what is left."""
        result = self.run(FIXTURES / "scmclient.exe", "purge", names, int(self.start_limit * 1000), timeout=600)
        left = [] if result.returncode == 0 else ["services: " + outcome(result)]
        with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, EVENT_SOURCES) as sources:
            for name in [winreg.EnumKey(sources, i) for i in range(winreg.QueryInfoKey(sources)[0])]:
                if name.lower().startswith(names.lower()):
                    winreg.DeleteKey(sources, name)  # a source has values only
        for folder in self.program_files.glob(folders):
            left += [f"process {p}" for p in self.end_processes(self.processes_under(folder))]
            shutil.rmtree(folder, ignore_errors=True)
            left += [str(folder)] if folder.exists() else []
        for product in self.probe_products():  # else a test would find them installed already
            wait_for_installer(self)
            result = self.run("msiexec", "/x", product, "/qn", timeout=300)
            left += [] if result.returncode == 0 else [f"product {product}: " + outcome(result)]
        return left

    def probe_products(self):
        """The product codes of the probe packages installed on the machine."""
        with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, UNINSTALL) as products:
            codes = [winreg.EnumKey(products, i) for i in range(winreg.QueryInfoKey(products)[0])]
        shown = [(self.reg_values(f"HKLM\\{UNINSTALL}\\{code}") or {}).get("DisplayName", ("", "")) for code in codes]
        return [code for code, (_, name) in zip(codes, shown) if name.startswith(PROBE_PRODUCTS)]

    def processes_under(self, folder):
        """(pid, command line, None) of each process whose program lies in folder."""
        listing = subprocess.run(["powershell", "-NoProfile", "-NonInteractive", "-Command", PROCESS_LIST],
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=True)
        inside = str(folder).lower() + "\\"
        rows = [line.split("\t", 2) for line in listing.stdout.decode("utf-8", "replace").splitlines()]
        return [(int(row[0]), row[2], None) for row in rows if len(row) == 3 and row[1].lower().startswith(inside)]

    def own_processes(self):
        return self.processes_under(self.drive_c)

    def end_processes(self, processes, timeout=10.0):
        """Ends each process; returns those still running after the wait."""
        if processes:
            subprocess.run(["taskkill", "/F", *(a for p in processes for a in ("/PID", str(p[0])))],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        deadline = time.monotonic() + timeout
        while any(alive(p[0]) for p in processes) and time.monotonic() < deadline:
            time.sleep(0.1)
        return [p for p in processes if alive(p[0])]

    def service_name(self, base):
        return PREFIX + self.tag + base

    def confirm_pipe_timeout(self):
        """Windows gives a control handler its 30 s."""

    def settle(self, timeout=60):
        """No console process takes over a service start on Windows."""

    def mark(self):
        """The number of the Application log's newest record."""
        result = self.run(FIXTURES / "scmclient.exe", "events", "newest")
        found = re.match(rb"record=(\d+)", result.stdout)
        assert result.returncode == 0 and found, "no newest record of the Application log: " + outcome(result)
        return int(found.group(1))

    def events(self, source, mark, count=0, timeout=10, whole=False):
        """The text of each Application-log event of source after mark, oldest
        first, as its registered message file renders it; whole gives
        (type, category, identifier, text) instead."""
        result = self.run(FIXTURES / "scmclient.exe", "events", source, mark, count, int(timeout * 1000),
                          timeout=timeout + 120)
        assert result.returncode == 0, "the Application log could not be read: " + outcome(result)
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        found = [(int(m[2]), int(m[3]), int(m[1]), unescaped(m[4])) for m in map(EVENT_LINE.match, lines) if m]
        return found if whole else [event[3] for event in found]

    def reg_values(self, key):
        """A key's values as {name: (type, data as `reg query` shows it)}; None when it does not exist."""
        handle = open_key(key)
        if handle is None:
            return None
        with handle:
            values = [winreg.EnumValue(handle, i) for i in range(winreg.QueryInfoKey(handle)[1])]
        return {name or "(Default)": (TYPE_NAMES.get(kind, f"REG_{kind}"), rendered(kind, data))
                for name, data, kind in values}

    def windows_path(self, path):
        return os.path.abspath(path)  # a link named stays named; no file system call

    def place(self, source, *relative):
        return place_file(self, source, relative)

    def run(self, program, *args, env=None, timeout=120, **kwargs):
        return run_program(self, [program, *args], env, timeout, **kwargs)

    def spawn(self, program, *args, env=None, **kwargs):
        return spawn_program(self, [program, *args], env, **kwargs)

    def environment(self, changes):
        """This process's environment with changes, names in any case as
        Windows compares them; a value None removes the variable."""
        merged = {name.upper(): (name, value) for name, value in os.environ.items()}
        merged.update({name.upper(): (name, value) for name, value in (changes or {}).items()})
        return {name: value for name, value in merged.values() if value is not None}

    def failure_report(self, first_run):
        return "\n\n".join([record.describe() for record in self.runs[first_run:]] +
                           [f"session logs (kept): {self.logs}"])
