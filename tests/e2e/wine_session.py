"""A Wine prefix of its own for one test session: the Windows programs run
there for real, and the traces of service processes are kept in a file."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("KELDRA_BUILD_ROOT", REPO / "build")) / "windows"
DIST = pathlib.Path(os.environ.get("KELDRA_DIST", REPO / "dist"))
FIXTURES = BUILD / "tests" / "fixtures"

# Channels of the processes that services.exe starts: their status reports
# and their event-log entries.
SERVICE_TRACE_CHANNELS = "+pid,+service,+eventlog,fixme-all"


class WineSession:
    def __init__(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="keldra-wine-"))
        self.prefix = self.root / "pfx"
        self.trace_path = self.root / "services-trace.log"
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    def start(self):
        self.prefix.mkdir()
        subprocess.run(["wineserver", "-p"], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The first command of the session creates the prefix and starts
        # services.exe; the services it starts later inherit this environment
        # and this stderr. It must not be wineboot itself: wineboot run after
        # the automatic creation starts a second services.exe, and the two
        # then answer the service control calls by turns, each with its own
        # view of the services.
        boot_env = dict(self.env, WINEDEBUG=SERVICE_TRACE_CHANNELS)
        with open(self.trace_path, "wb") as trace:
            subprocess.run(["wine", "cmd", "/c", "exit"], env=boot_env, check=True, timeout=300,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=trace)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)

    def windows_path(self, path):
        """The Windows name of a file below drive_c."""
        relative = pathlib.Path(path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + "\\".join(relative.parts)

    def place(self, source, *relative):
        """Copies a built file into drive_c and returns its Windows path."""
        target = self.drive_c.joinpath(*relative)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)
        return self.windows_path(target)

    def run(self, program, *args, env=None, timeout=120, **kwargs):
        """Runs a Windows program; stdout and stderr are bytes as written."""
        run_env = dict(self.env)
        run_env.update(env or {})
        return subprocess.run(["wine", str(program), *map(str, args)], env=run_env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, **kwargs)

    def spawn(self, program, *args, env=None, **kwargs):
        run_env = dict(self.env)
        run_env.update(env or {})
        return subprocess.Popen(["wine", str(program), *map(str, args)], env=run_env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                **kwargs)

    def trace_mark(self):
        """Where the service trace ends now; pass it to trace_since."""
        return self.trace_path.stat().st_size

    def trace_since(self, mark):
        with open(self.trace_path, "rb") as f:
            f.seek(mark)
            return f.read().decode("latin-1")

    def wait_for_trace(self, mark, predicate, timeout=30.0):
        """Waits until predicate(trace text since mark) holds; returns the text."""
        deadline = time.monotonic() + timeout
        while True:
            text = self.trace_since(mark)
            if predicate(text) or time.monotonic() > deadline:
                return text
            time.sleep(0.1)
