"""INSTALL and REMOVE given names and places that are not theirs: another
program's service or event source is never changed, an executable path that
the service manager would rewrite is refused, and one it cannot start is
reported. Names given to the helpers here are made the host's own."""
import os
import re

import pytest

from agent_service import EVENT_SOURCES, SERVICES, TIMESTAMP, add_service, system_text
from wine_session import LONG_MODULE_PATH, exit_status, outcome, require_wine


FOREIGN_SERVICE = b"the service of this name belongs to another program; it was left as it is"
FOREIGN_SOURCE = b"the event source of this name belongs to another program; it was left as it is"
EXPANDABLE_PATH = (b'ERROR: the path of keldraagent.exe holds more than one "%", which Windows would expand in '
                   b"the service's command line; nothing was installed")
UNSTARTABLE_PATH = (b"ERROR: the path of keldraagent.exe is longer than Windows can start a service from (259 "
                    b"characters), so the service could never start; nothing was installed")
UNSTARTABLE_WORKER = (b"the path of keldraworker.exe is longer than Windows can start a program from (259 "
                      b"characters); the service will start but never run its worker")
FORGEABLE_EVENTS = (b"Everyone can change C:\\KeldraOpen\\vossevent.dll, from which the Event Viewer reads the text of "
                    b"the service's events: it can make them say what it likes, though not run code as the service's "
                    b"account; install the agent in a folder under Program Files")
UNREADABLE = (b"INSTALL could not read who may change %s, so it cannot say whether others could take the service over "
              b"through it: %s")
SUBSTITUTED = (b"keldraagent.exe lies on a drive made with subst, which Windows cannot reach when it starts "
               b"services at boot; the service will fail to start then: install the agent on a local drive")


def changeable(group, path):
    return (b"%s can change %s, which the service runs with its account's rights; install the agent in a folder "
            b"under Program Files" % (group, path))


def owned(account, path):
    return (b"%s owns %s, which the service runs with its account's rights, and so can change its access list; "
            b"install the agent in a folder under Program Files" % (account, path))


def above(account, owns, path, folder):
    return (b"%s %s %s, which holds %s%s: it can move that folder away and put one of its own in its place, whose "
            b"programs the service would run with its account's rights; install the agent in a folder under Program "
            b"Files" % (account, b"owns" if owns else b"can change", path, folder,
                        b", and so can change its access list" if owns else b""))


def run_agent(host, agent, command, name):
    # As LocalSystem, which Windows can start a service as without a password.
    account = ["-u", "LocalSystem"] if command == "INSTALL" else []
    return host.run(agent, command, host.service_name(name), *account)


def messages(output):
    """The messages of console output that must consist of whole lines (and
    the empty line that follows a system text)."""
    lines = re.fullmatch(rb"(?:(?:" + TIMESTAMP + rb" [^\r\n]*)?\r\n)*", output)
    assert lines, output
    return re.findall(TIMESTAMP + rb" ([^\r\n]*)\r\n", output)


def state(host, name):
    """What the system holds under a name: the service's values, its event
    source's values, and whether it runs."""
    name = host.service_name(name)
    running = b"RUNNING" in host.run("sc", "query", name).stdout
    return host.reg_values(SERVICES + "\\" + name), host.reg_values(EVENT_SOURCES + "\\" + name), running


def add_source(host, name, message_file, kind="REG_SZ"):
    assert host.run("reg", "add", EVENT_SOURCES + "\\" + host.service_name(name), "/v", "EventMessageFile", "/t", kind,
                    "/d", message_file, "/f").returncode == 0


@pytest.fixture(scope="module")
def agent(host, dist):
    host.place(dist / "vossevent.dll", "KeldraHostile", "vossevent.dll")
    return host.place(dist / "keldraagent.exe", "KeldraHostile", "keldraagent.exe")


@pytest.fixture(scope="module")
def programs(host, fixtures):
    """A foreign service program, and a stand-in agent for an older
    installation that registered its path unquoted."""
    return {"foreign": host.place(fixtures / "stubservice.exe", "Other Vendor", "spooler.exe"),
            "older": host.place(fixtures / "stubservice.exe", "Keldra Old", "keldraagent.exe")}


# name, prepared state, command, messages (a number: the system's text for
# that error), what must hold afterwards, exit code (1078: the name is
# another program's; 1060: no such service)
CASES = [
    ("ForeignRunning", dict(service="foreign", running=True, source="C:\\Other Vendor\\spoolmsg.dll"),
     "REMOVE", [FOREIGN_SERVICE], "unchanged", 1078),
    ("ForeignOverwrite", dict(service="foreign", source="C:\\Other Vendor\\spoolmsg.dll"),
     "INSTALL", [FOREIGN_SERVICE, FOREIGN_SOURCE], "unchanged", 1078),
    ("ForeignNoSource", dict(service="foreign"), "INSTALL", [FOREIGN_SERVICE], "unchanged", 1078),
    ("ForeignSourceOnly", dict(source="%SystemRoot%\\System32\\msimsg.dll", kind="REG_EXPAND_SZ"),
     "INSTALL", [FOREIGN_SOURCE], "unchanged", 1078),
    ("ForeignSourceOnlyRm", dict(source="C:\\Other Vendor\\a.dll;C:\\Keldra\\vossevent.dll"),
     "REMOVE", [1060, FOREIGN_SOURCE], "unchanged", 1060),
    ("OursOverForeignSrc", dict(service="ours", source="C:\\Other Vendor\\spoolmsg.dll"),
     "REMOVE", [FOREIGN_SOURCE], "service gone", 1078),
    ("OlderUnquoted", dict(service="older", source="C:\\Keldra Old\\vossevent.dll"),
     "REMOVE", [], "all gone", 0),
]


@pytest.mark.parametrize("name, prepared, command, expected, afterwards, code", CASES, ids=[c[0] for c in CASES])
def test_another_programs_service_or_event_source_is_never_changed(host, agent, programs, name, prepared,
                                                                    command, expected, afterwards, code):
    service = prepared.get("service")
    if service == "foreign":
        add_service(host, name, '"%s" prompt' % programs["foreign"], start=prepared.get("running", False))
    elif service == "older":
        add_service(host, name, "%s RUN prompt" % programs["older"])
    elif service == "ours":
        installed = run_agent(host, agent, "INSTALL", name)
        assert (installed.returncode, installed.stdout) == (0, b""), outcome(installed)
    if "source" in prepared:
        add_source(host, name, prepared["source"], prepared.get("kind", "REG_SZ"))
    before = state(host, name)

    result = run_agent(host, agent, command, name)
    assert result.returncode == exit_status(code), outcome(result)
    expected = [system_text(host, m).rstrip(b"\r\n") if isinstance(m, int) else m for m in expected]
    assert messages(result.stdout) == expected, outcome(result)
    after = state(host, name)
    if afterwards == "unchanged":
        assert after == before
    elif afterwards == "service gone":
        assert after == (None, before[1], False)
    else:
        assert after == (None, None, False)


def test_a_path_whose_percent_signs_could_be_expanded_is_refused_and_one_that_cannot_starts(host, dist,
                                                                                             fixtures):
    refused = host.place(dist / "keldraagent.exe", "a%SystemRoot%b", "keldraagent.exe")
    result = run_agent(host, refused, "INSTALL", "PercentTwice")
    assert result.returncode == exit_status(161), outcome(result)  # ERROR_BAD_PATHNAME
    assert messages(result.stdout) == [EXPANDABLE_PATH], outcome(result)
    assert state(host, "PercentTwice") == (None, None, False)

    kept = host.place(dist / "keldraagent.exe", "100%", "keldraagent.exe")
    result = run_agent(host, kept, "INSTALL", "PercentOnce")
    assert (result.returncode, result.stdout) == (0, b""), outcome(result)
    assert state(host, "PercentOnce")[0]["ImagePath"][1] == f'"{kept}" RUN {host.service_name("PercentOnce")}'
    # Started by the service manager, it is the same program: it reports the
    # service running (with no worker beside it) and stops when told to.
    started = host.run(fixtures / "scmclient.exe", "start", host.service_name("PercentOnce"))
    assert started.returncode == 0, outcome(started)
    running = host.run(fixtures / "scmclient.exe", "wait", host.service_name("PercentOnce"), 4, 60000)
    assert running.returncode == 0, outcome(running)
    result = run_agent(host, kept, "REMOVE", "PercentOnce")
    assert (result.returncode, result.stdout) == (0, b""), outcome(result)


# keldraworker.exe's path is one character longer than the agent's; an
# agent that could never start is refused (ERROR_FILENAME_EXCED_RANGE).
@pytest.mark.parametrize("length, reported", [(258, []), (259, [UNSTARTABLE_WORKER]), (260, [UNSTARTABLE_PATH]),
                                              (300, [UNSTARTABLE_PATH])])
def test_a_path_too_long_to_start_is_refused_and_a_worker_path_too_long_reported(host, dist, length, reported):
    if length >= 260:
        require_wine(host, LONG_MODULE_PATH)
    # drive_c + directories + \keldraagent.exe, each directory short enough for Linux.
    room = length - len(host.windows_path(host.drive_c).rstrip("\\") + "\\") - len("\\keldraagent.exe")
    parts = ["L%d" % length + "x" * (min(room, 200) - 4)]
    room -= len(parts[0])
    while room > 0:
        parts.append(("y" * 200)[:room - 1])
        room -= len(parts[-1]) + 1
    agent = host.place(dist / "keldraagent.exe", *parts, "keldraagent.exe")
    assert len(agent) == length
    name = "Long%d" % length
    result = run_agent(host, agent, "INSTALL", name)
    assert result.returncode == exit_status(206 if length >= 260 else 0), outcome(result)
    assert messages(result.stdout) == reported, outcome(result)
    if length >= 260:
        assert state(host, name) == (None, None, False)
        return
    assert state(host, name)[0]["ImagePath"][1] == '"%s" RUN %s' % (agent, host.service_name(name))
    assert run_agent(host, agent, "REMOVE", name).returncode == 0


def test_what_others_own_or_everyone_can_change_or_a_substituted_drive_is_reported_and_installed_all_the_same(
        host, dist, fixtures):
    require_wine(host, "access lists made through Unix modes and chown, a substituted drive through a dosdevices link")
    agent = host.place(dist / "keldraagent.exe", "KeldraOpen", "keldraagent.exe")
    host.place(fixtures / "keldraworker.exe", "KeldraOpen", "keldraworker.exe")
    host.place(dist / "vossevent.dll", "KeldraOpen", "vossevent.dll")
    folder = host.drive_c / "KeldraOpen"
    # Under Wine an access list follows the Unix mode ("other" is Everyone), and another uid owns as ANONYMOUS LOGON.
    for path, mode in ((folder, 0o777), (folder / "keldraworker.exe", 0o757), (folder / "vossevent.dll", 0o757)):
        path.chmod(mode)
    os.chown(folder, 4242, 4242)
    result = run_agent(host, agent, "INSTALL", "OpenFolder")
    assert messages(result.stdout) == [owned(b"NT AUTHORITY\\ANONYMOUS LOGON", b"C:\\KeldraOpen"),
                                       changeable(b"Everyone", b"C:\\KeldraOpen"),
                                       changeable(b"Everyone", b"C:\\KeldraOpen\\keldraworker.exe"),
                                       FORGEABLE_EVENTS], outcome(result)
    assert state(host, "OpenFolder")[0] is not None
    # A folder above that others own and change; a worker that Wine cannot open (a link to itself) is said,
    # a library not there is not.
    inner = host.place(dist / "keldraagent.exe", "KeldraAbove", "bin", "keldraagent.exe")
    (host.drive_c / "KeldraAbove" / "bin" / "keldraworker.exe").symlink_to("keldraworker.exe")
    (host.drive_c / "KeldraAbove").chmod(0o777)
    os.chown(host.drive_c / "KeldraAbove", 4242, 4242)
    result = run_agent(host, inner, "INSTALL", "OpenAbove")
    assert (result.returncode, messages(result.stdout)) == (0, [
        UNREADABLE % (b"C:\\KeldraAbove\\bin\\keldraworker.exe", system_text(host, 1921).rstrip(b"\r\n")),
        above(b"NT AUTHORITY\\ANONYMOUS LOGON", True, b"C:\\KeldraAbove", b"C:\\KeldraAbove\\bin"),
        above(b"Everyone", False, b"C:\\KeldraAbove", b"C:\\KeldraAbove\\bin")]), outcome(result)
    for changed in (folder, host.drive_c / "KeldraAbove"):
        os.chown(changed, os.getuid(), os.getgid())
    for path in (folder, folder / "keldraworker.exe", folder / "vossevent.dll", host.drive_c / "KeldraAbove"):
        path.chmod(0o755)
    # Made as subst makes it (Wine's subst does nothing), found through the prefix's drive link.
    assert host.run(fixtures / "processprobe.exe", "subst", "S:", "C:\\KeldraOpen").returncode == 0
    (host.drive_c.parent / "dosdevices" / "s:").symlink_to(folder)
    result = run_agent(host, "S:\\keldraagent.exe", "INSTALL", "OnSubst")
    assert messages(result.stdout) == [SUBSTITUTED], outcome(result)
    for name in ("OpenFolder", "OpenAbove", "OnSubst"):
        assert run_agent(host, agent, "REMOVE", name).returncode == 0
