"""mirelt.log: appended to, never truncated; shared by launchers that run at
the same time; never written through something planted at its name."""
import os
import re
import time

from mirelt_support import FAILED_OPEN, TIMESTAMP, closing_line, log_messages
from wine_session import ON_WINDOWS, outcome, require_wine


def missing_package_run(launcher, name="missing.exe", temp=None):
    package = launcher.root / "stage" / name
    options = launcher.file("stage/" + name + ".options")
    return launcher.run(launcher.win(package), "exe", "/q", launcher.win(options), temp=temp), package


def test_each_line_is_a_local_time_stamp_the_message_and_cr_lf(launcher):
    missing_package_run(launcher)
    data = launcher.log_path.read_bytes()
    stamps = re.findall(rb"^(" + TIMESTAMP + rb") ", data, re.MULTILINE)
    assert len(stamps) == 3
    for stamp in stamps:
        assert abs(int(stamp[-4:]) - time.localtime().tm_year) <= 1
    assert data.count(b"\r\n") == 3 and b"\n" not in data.replace(b"\r\n", b"")


def assert_own_access_list(launcher):
    """The log opens to the running account, SYSTEM and the Administrators alone."""
    result = launcher.host.run(launcher.fixtures / "messageprobe.exe", "security", launcher.win(launcher.log_path))
    assert result.returncode == 0, outcome(result)
    sddl, user = re.fullmatch(r"O:\S+?D:(\S+)\r\nuser=(\S+)\r\n", result.stdout.decode()).groups()
    entries = re.findall(r"\(A;[^;]*;([^;]*);;;([^)]*)\)", sddl)
    assert {sid for _, sid in entries} <= {"SY", "BA", user} and ("FA", user) in entries, sddl
    # Windows keeps the list protected from what the folder hands down.
    assert not ON_WINDOWS or sddl.startswith("P"), sddl


def test_a_new_log_opens_to_the_running_account_system_and_administrators_alone(launcher):
    # Under Wine the access list follows the Unix mode the file was created
    # with; the temporary folder's own lets everyone read.
    missing_package_run(launcher)
    assert_own_access_list(launcher)


EARLIER = b"Thu Dec 5 09:05:07 2024 Ready to install earlier\r\n"


def test_earlier_lines_are_kept_and_new_ones_follow_in_the_logs_own_access_list(launcher):
    # An earlier release's log kept its folder's list, which may let others read it.
    launcher.log_path.write_bytes(EARLIER)
    if ON_WINDOWS:
        granted = launcher.host.run("icacls", launcher.win(launcher.log_path), "/grant", "*S-1-1-0:(R)")
        assert granted.returncode == 0, outcome(granted)
    else:
        # Wine shows mode 644 as Everyone reading. Its SetSecurityInfo hands
        # down the folder's entries even to a protected list, so the folder
        # lets no one else in (the next case: one that does).
        os.chmod(launcher.log_path, 0o644)
        os.chmod(launcher.temp, 0o700)
    result, package = missing_package_run(launcher)
    data = launcher.log_path.read_bytes()
    assert result.stderr == b"" and data.startswith(EARLIER)
    assert log_messages(data)[0] == b"Ready to install earlier"
    assert log_messages(data)[-1] == closing_line(launcher.win(package))
    assert_own_access_list(launcher)
    assert ON_WINDOWS or os.stat(launcher.log_path).st_mode & 0o007 == 0


def test_an_earlier_log_whose_access_list_stays_open_is_left_alone(launcher):
    # Wine's SetSecurityInfo puts Everyone back from the folder (mode 755):
    # the log's list cannot be narrowed, as a file system that keeps none.
    require_wine(launcher.host, "an access list that SetSecurityInfo does not narrow")
    launcher.log_path.write_bytes(EARLIER)
    os.chmod(launcher.log_path, 0o644)
    result, _ = missing_package_run(launcher)
    assert (result.returncode, result.stderr) == (0, FAILED_OPEN * 3)
    assert launcher.log_path.read_bytes() == EARLIER


def test_without_its_temporary_directory_each_message_goes_to_standard_error(launcher):
    absent = launcher.root / "no-such-directory"
    result, _ = missing_package_run(launcher, temp=absent)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", FAILED_OPEN * 3)
    assert not absent.exists()


def test_launchers_running_at_once_all_append_whole_lines(launcher):
    count = 12
    runs = []
    for index in range(count):
        package = launcher.root / "stage" / ("missing-%d.exe" % index)
        options = launcher.file("stage/options-%d.txt" % index)
        runs.append(launcher.spawn(launcher.win(package), "exe", "/run=%d" % index, launcher.win(options)))
    errors = b""
    for run in runs:
        _, run_errors = run.communicate(timeout=300)
        errors += run_errors
        assert run.returncode == 0, run_errors[-2000:]
    messages = log_messages(launcher.log_path.read_bytes())
    assert len(messages) == 3 * count, (messages, errors[-3000:])
    for index in range(count):
        path = launcher.win(launcher.root / "stage" / ("missing-%d.exe" % index)).encode()
        mine = [m for m in messages if path in m]
        assert mine == [b'Ready to install "%s" /run=%d' % (path, index),
                        b'failed to execute command: "%s" /run=%d' % (path, index),
                        closing_line(launcher.win(launcher.root / "stage" / ("missing-%d.exe" % index)))]


def test_a_second_name_for_a_file_elsewhere_is_not_written_through(launcher):
    # Wine shows a link planted from outside as the plain file it names, so
    # a symbolic link cannot be told apart there; a hard link can.
    target = launcher.file("elsewhere/important.txt", b"important\r\n")
    os.link(target, launcher.log_path)
    result, _ = missing_package_run(launcher)
    assert result.stderr == FAILED_OPEN * 3
    assert target.read_bytes() == b"important\r\n"


def test_a_link_to_a_directory_at_the_log_name_is_not_written_through(launcher):
    target = launcher.root / "elsewhere"
    target.mkdir()
    os.symlink(target, launcher.log_path, target_is_directory=True)
    result, _ = missing_package_run(launcher)
    assert result.stderr == FAILED_OPEN * 3
    assert list(target.iterdir()) == []


def test_a_log_that_another_account_owns_is_left_alone(launcher):
    # Wine gives a file of another Unix user the owner ANONYMOUS LOGON.
    require_wine(launcher.host, "a file of another account, made with chown")
    planted = b"Thu Dec 5 09:05:07 2024 Ready to install planted\r\n"
    launcher.log_path.write_bytes(planted)
    os.chmod(launcher.log_path, 0o666)
    os.chown(launcher.log_path, 4242, 4242)
    result, _ = missing_package_run(launcher)
    assert (result.returncode, result.stderr) == (0, FAILED_OPEN * 3)
    assert launcher.log_path.read_bytes() == planted
    assert not (launcher.root / "stage" / "missing.exe.options").exists()
