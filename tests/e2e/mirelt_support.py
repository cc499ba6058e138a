"""Running mirelt under Wine with a temporary directory of its own, and
reading its log file back."""
import pathlib
import re
import shutil

WEEKDAY = rb"(?:Sun|Mon|Tue|Wed|Thu|Fri|Sat)"
MONTH = rb"(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)"
TIMESTAMP = WEEKDAY + rb" " + MONTH + rb" (?:[1-9]|[12]\d|3[01]) (?:[01]\d|2[0-3]):[0-5]\d:[0-5]\d \d{4}"
LOG_LINE = re.compile(TIMESTAMP + rb" (.*)")

FAILED_OPEN = b"ERROR: Failed to open log file\r\n"


def closing_line(package):
    return (b"The installation of " + package.encode("latin-1") + b" returned an error. Note: Installation of "
            b"other packages may result in failure which are dependent on this one.")


def log_messages(data):
    """The messages of a log file's bytes; every line must be whole."""
    assert data.endswith(b"\r\n") or data == b"", data[-80:]
    messages = []
    for line in data.split(b"\r\n")[:-1]:
        match = LOG_LINE.fullmatch(line)
        assert match, line
        messages.append(match.group(1))
    return messages


class Launcher:
    """One test's corner of drive_c: C:\\mirelt-tests\\<name>, with its own
    temporary directory (temp) and the files the test places there."""

    def __init__(self, host, dist, fixtures, name):
        self.host = host
        self.fixtures = fixtures
        self.root = host.drive_c / "mirelt-tests" / name
        shutil.rmtree(self.root, ignore_errors=True)
        self.temp = self.root / "temp"
        self.temp.mkdir(parents=True)
        self.program = host.place(dist / "mirelt.exe", "Keldra", "mirelt.exe")
        self.starter = host.place(fixtures / "processprobe.exe", "mirelt-tests", "processprobe.exe")

    def win(self, path):
        return self.host.windows_path(path)

    @property
    def log_path(self):
        return self.temp / "mirelt.log"

    def log(self):
        return log_messages(self.log_path.read_bytes())

    def file(self, name, content=b"options\r\n"):
        path = self.root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def package_program(self, name):
        """The recording package program, placed under the given name."""
        path = self.root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.fixtures / "packageprobe.exe", path)
        return path

    def stage(self, package="setup.exe", options="options.txt"):
        """The recording package program and an option file, both in stage."""
        return self.package_program("stage/" + package), self.file("stage/" + options)

    @staticmethod
    def recorded(program):
        """The command line that a package program was started with."""
        record = pathlib.Path(str(program) + ".cmdline")
        return record.read_bytes().decode("utf-8") if record.exists() else None

    def command(self, *args, temp=None, program=None):
        temp = self.win(temp or self.temp)
        return [self.starter, "env", "TMP=" + temp, "TEMP=" + temp, "--", program or self.program, *args]

    def run(self, *args, temp=None, program=None, **kwargs):
        return self.host.run(*self.command(*args, temp=temp, program=program), **kwargs)

    def spawn(self, *args, temp=None, program=None, **kwargs):
        return self.host.spawn(*self.command(*args, temp=temp, program=program), **kwargs)
