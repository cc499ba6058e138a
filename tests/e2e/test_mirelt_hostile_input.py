"""mirelt given hostile input: a message never starts a line of its own in
the log, a log without a temporary directory is no log at all, and the root
of a drive or share is never removed, however it is written."""
import os
import pathlib
import shutil

import pytest

from mirelt_support import FAILED_OPEN, closing_line, log_messages
from wine_session import outcome, require_wine

FORGED = "Thu Dec 5 09:05:07 2024 The installation of C:\\Other\\x.exe returned an error."
SHARE = "\\\\keldrasrv\\share"


def escaped(text):
    """A message as the log holds it: control characters as <U+XXXX>."""
    return "".join("<U+%04X>" % ord(c) if ord(c) < 0x20 or ord(c) == 0x7F else c for c in text).encode("latin-1")


@pytest.fixture(scope="module")
def spare_roots(host):
    """Drive X: and the share \\\\keldrasrv\\share of this session: directories
    outside drive_c, each holding a file and a directory, that a removal of
    their root would empty."""
    require_wine(host, "a drive and a share made as links in the prefix's dosdevices")
    roots = {}
    for name, link in (("xdrive", host.prefix / "dosdevices" / "x:"),
                       ("share", host.prefix / "dosdevices" / "unc" / "keldrasrv" / "share")):
        target = host.root / name
        target.mkdir()
        link.parent.mkdir(parents=True, exist_ok=True)
        os.symlink(target, link)
        roots[name] = target
    yield roots
    for name in roots:
        shutil.rmtree(host.root / name, ignore_errors=True)


def fill(root):
    (root / "sub").mkdir(exist_ok=True)
    (root / "keep.txt").write_bytes(b"keep")
    (root / "sub" / "keep-too.txt").write_bytes(b"keep too")


def intact(root):
    return (root / "keep.txt").exists() and (root / "sub" / "keep-too.txt").exists()


@pytest.mark.parametrize("options", [
    "/q\r\n" + FORGED,
    "/q\n" + FORGED,
    "/q\r" + FORGED,
    "/a\x1b[2J\x07\x7f\x0b\x0c/b",
])
def test_control_characters_of_a_message_are_escaped_so_it_stays_one_line(launcher, options):
    package = launcher.root / "stage" / "missing.exe"
    options_file = launcher.file("stage/options.txt")
    result = launcher.run(launcher.win(package), "exe", options, launcher.win(options_file))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b""), outcome(result)
    path = launcher.win(package).encode()
    command = b'"%s" %s' % (path, escaped(options))
    assert launcher.log() == [b"Ready to install " + command, b"failed to execute command: " + command,
                              closing_line(launcher.win(package))]


def test_a_package_path_cannot_forge_a_line_either(launcher):
    package = launcher.win(launcher.root / "stage") + "\\x.exe\r\n" + FORGED
    options_file = launcher.file("stage/options.txt")
    result = launcher.run(package, "exe", "/q", launcher.win(options_file))
    assert (result.returncode, result.stderr) == (0, b""), outcome(result)
    logged = escaped(package)
    assert launcher.log() == [b'Ready to install "%s" /q' % logged, b'failed to execute command: "%s" /q' % logged,
                              b"The installation of " + logged + closing_line("")[len(b"The installation of "):]]
    assert not options_file.exists()


def test_a_temporary_directory_too_long_never_sends_the_log_to_a_root_and_the_work_goes_on(host, launcher):
    # Too long for a temporary directory: Windows skips TMP and TEMP and
    # takes the profile folder, Wine gives none. The current directory is on
    # C:, whose root would otherwise receive the log.
    temp = launcher.root / ("T" * 200) / ("T" * 200)
    profile_log = pathlib.Path(os.environ["USERPROFILE"], "mirelt.log") if host.kind == "windows" else None
    package, options_file = launcher.stage()
    result = launcher.run(launcher.win(package), "exe", "/S", launcher.win(options_file), temp=temp,
                          cwd=launcher.root)
    errors = b"" if profile_log else FAILED_OPEN
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", errors), outcome(result)
    ready = b'Ready to install "%s" /S' % launcher.win(package).encode()
    assert not profile_log or log_messages(profile_log.read_bytes())[-1] == ready
    assert launcher.recorded(package) == '"%s" /S' % launcher.win(package)
    assert not package.exists() and not options_file.exists()
    assert not (host.drive_c / "mirelt.log").exists()
    assert not list(launcher.root.rglob("mirelt.log"))


@pytest.mark.parametrize("root, written", [
    ("xdrive", "X:\\"),
    ("xdrive", "X:"),
    ("xdrive", "x:/"),
    ("xdrive", "X:\\sub\\.."),
    ("xdrive", "\\\\?\\X:\\"),
    ("xdrive", "\\\\.\\X:\\."),
    # Relative to the current directory, which is X:\.
    ("xdrive", "."),
    ("xdrive", "sub\\.."),
    ("xdrive", "\\"),
    ("share", SHARE),
    ("share", SHARE + "\\"),
    ("share", "\\\\?\\UNC\\keldrasrv\\share\\"),
])
@pytest.mark.parametrize("role", ["package", "option"])
def test_the_root_of_a_drive_or_share_is_never_removed(launcher, spare_roots, root, written, role):
    for directory in spare_roots.values():
        fill(directory)
    other = launcher.file("stage/other.txt")
    if role == "package":
        args = [written, "exe", "", launcher.win(other)]
    else:
        args = [launcher.win(other), "exe", "", written]
    relative = not written.startswith(("\\\\", "X:", "x:"))
    result = launcher.run(*args, cwd=spare_roots["xdrive"] if relative else launcher.root)
    assert (result.returncode, result.stderr) == (0, b""), outcome(result)
    assert all(intact(directory) for directory in spare_roots.values()), (written, launcher.log())
    expected = (b"Failed to remove package file: " if role == "package" else
                b"Failed to remove option file: ") + written.encode()
    assert launcher.log()[-1] == expected
    # The other file still goes.
    assert not other.exists()


def test_a_share_is_reachable_so_its_root_cases_can_fail(launcher, spare_roots):
    fill(spare_roots["share"])
    options_file = launcher.file("stage/options.txt")
    result = launcher.run(SHARE + "\\sub", "exe", "", launcher.win(options_file))
    assert result.returncode == 0, outcome(result)
    assert not (spare_roots["share"] / "sub").exists() and (spare_roots["share"] / "keep.txt").exists()
