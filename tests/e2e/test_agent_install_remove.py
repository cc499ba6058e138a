"""INSTALL and REMOVE against the host's Service Control Manager and
registry: what the system holds afterwards, what the console shows, and how
REMOVE waits for a service to stop. Names given to the helpers here are
made the host's own (host.service_name)."""
import re
import time

import pytest

from agent_service import EVENT_SOURCES, SERVICES, TIMESTAMP, add_service, system_text
from conftest import ON_WINDOWS
from test_agent_command_line import BANNER
from wine_session import exit_status, outcome, wine_only

PASSWORD_VARIABLE = "KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD"
QUERY_CALL = re.compile(r"^(\d+\.\d+):\S*trace:service:QueryServiceStatus ", re.M)
DELETE_CALL = re.compile(r"trace:service:DeleteService ")
QUERIES = "REMOVE's own service calls: how often it queried the status, and whether it deleted"
# Windows checks that an account exists when a service is created (1057).
NO_SUCH_ACCOUNT = pytest.mark.xfail(ON_WINDOWS, strict=True, reason="Windows refuses an account that "
                                    "the test machine does not have (1057); Wine registers any name")


def console_line(*messages):
    """Logged messages as a pipe receives them; line ends become CR LF, and a
    CR LF of a message stays one."""
    written = [re.escape(m.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")) for m in messages]
    return re.compile(rb"\A" + b"".join(TIMESTAMP + rb" " + m + rb"\r\n" for m in written) + rb"\Z")


# Every service this module registered; all are deleted at its end.
INSTALLED = []


def run_agent(host, agent, *args, password=..., env=None):
    """Runs keldraagent with the password variable set (to the password of
    the host's account by default), or absent for None."""
    password = host.account_password if password is ... else password
    args = (args[0], host.service_name(args[1]), *args[2:])
    if args[0] == "INSTALL":
        INSTALLED.append(args[1])
    return host.run(agent, *args, env={PASSWORD_VARIABLE: password, **(env or {})})


def install(host, agent, name, *options):
    """An INSTALL that a test builds on: it must register the service, and
    then prints nothing."""
    result = run_agent(host, agent, "INSTALL", name, *options)
    assert (result.returncode, result.stdout, service_values(host, name) is None) == (0, b"", False), outcome(result)


def service_values(host, name):
    return host.reg_values(SERVICES + "\\" + host.service_name(name))


def event_source_values(host, name):
    return host.reg_values(EVENT_SOURCES + "\\" + host.service_name(name))


def query_times(trace):
    return [float(t) for t in QUERY_CALL.findall(trace)]


@pytest.fixture(scope="module", autouse=True)
def delete_installed(host, fixtures):
    """INSTALL registers services that start automatically: none is left
    for a later service manager to start."""
    yield
    for name in sorted(set(INSTALLED)):
        host.run(fixtures / "scmclient.exe", "purge", name)


@pytest.fixture(scope="module")
def agent(host, dist):
    host.place(dist / "vossevent.dll", "Keldra", "bin", "vossevent.dll")
    return host.place(dist / "keldraagent.exe", "Keldra", "bin", "keldraagent.exe")


@pytest.fixture(scope="module")
def stub(service_manager, fixtures):
    # A stand-in for the agent with a stop of a chosen speed: REMOVE stops
    # only a service that starts a keldraagent.exe with RUN.
    return service_manager.place(fixtures / "stubservice.exe", "KeldraStub", "keldraagent.exe")


# --- INSTALL -----------------------------------------------------------------

DESCRIPTION = "Keeps the Keldra agent's worker (keldraworker.exe) running and starts it again when it ends."

@pytest.mark.xfail(ON_WINDOWS, strict=True, reason="Wine's defaults: Windows writes no PreshutdownTimeout "
                   "and stores the image path as REG_EXPAND_SZ")
def test_install_registers_an_automatic_own_process_service_and_its_event_source(host, agent):
    result = run_agent(host, agent, "INSTALL", "plain")
    assert (result.returncode, result.stdout) == (0, b"")
    assert service_values(host, "plain") == {
        "ImagePath": ("REG_SZ", f'"{agent}" RUN {host.service_name("plain")}'),
        "DisplayName": ("REG_SZ", "Keldra - plain"),
        "Description": ("REG_SZ", DESCRIPTION),
        "ObjectName": ("REG_SZ", ".\\Administrator"),
        "Start": ("REG_DWORD", "0x2"),
        "Type": ("REG_DWORD", "0x10"),
        "ErrorControl": ("REG_DWORD", "0x1"),
        "PreshutdownTimeout": ("REG_DWORD", "0x2bf20"),  # Wine's own default
    }
    assert event_source_values(host, "plain") == {
        "EventMessageFile": ("REG_SZ", agent.replace("keldraagent.exe", "vossevent.dll")),
        "TypesSupported": ("REG_DWORD", "0x7"),
    }
    # The password reaches the system only through CreateServiceW.
    assert host.account_password.encode() not in result.stdout + result.stderr


@pytest.mark.parametrize("part", [0, pytest.param(1, marks=pytest.mark.xfail(
    not ON_WINDOWS, strict=True, reason="Wine keeps no failure actions (QueryServiceConfig2W: 124)"))],
    ids=["description", "recovery"])
def test_install_describes_the_service_and_has_windows_restart_it_after_a_failure(host, agent, fixtures, part):
    name = "recovery%d" % part
    assert run_agent(host, agent, "INSTALL", name).returncode == 0
    result = host.run(fixtures / "scmclient.exe", "recovery", host.service_name(name))
    # Restart (1) after a minute twice, then every ten minutes; counted anew after a day.
    expected = ["description=" + DESCRIPTION, "reset=86400 1/60000 1/60000 1/600000"]
    assert result.stdout.decode().splitlines()[:part + 1] == expected[:part + 1], outcome(result)


@pytest.mark.parametrize("name, options, display, account", [
    ("disp1", ["-dFront Desk Agent"], "Front Desk Agent", ".\\Administrator"),
    # Display names are unique too, as service names are.
    ("disp2", ["-d", "Back Office Agent"], "Back Office Agent", ".\\Administrator"),
    *(pytest.param(*case, marks=NO_SUCH_ACCOUNT) for case in [
        ("acct1", ["-u", "svcuser"], "Keldra - acct1", ".\\svcuser"),
        ("acct2", ["-uCORP\\svcuser"], "Keldra - acct2", "CORP\\svcuser"),
        ("acct3", ["-u", "svcuser@corp.example"], "Keldra - acct3", "svcuser@corp.example"),
        ("acct4", ["-u", "first", "-d", "D", "-u", "CORP\\second"], "D", "CORP\\second"),
        ("acct5", ["-u", ""], "Keldra - acct5", ".\\")]),
])
def test_install_takes_display_name_and_account_from_the_options(host, agent, name, options, display,
                                                                  account):
    result = run_agent(host, agent, "INSTALL", name, *options)
    assert (result.returncode, result.stdout) == (0, b"")
    values = service_values(host, name)
    assert values["DisplayName"] == ("REG_SZ", display.replace(name, host.service_name(name)))
    assert values["ObjectName"] == ("REG_SZ", account)
    assert values["ImagePath"][1] == f'"{agent}" RUN {host.service_name(name)}'


def test_a_path_with_blanks_is_registered_in_quotes_and_starts_the_agent(host, dist, fixtures):
    spaced = host.place(dist / "keldraagent.exe", "Program Files", "Keldra Agent", "keldraagent.exe")
    # Were the path unquoted, this program would be started in the agent's place.
    host.place(fixtures / "stubservice.exe", "Program.exe")
    result = run_agent(host, spaced, "INSTALL", "spaced")
    assert (result.returncode, result.stdout) == (0, b"")
    image_path = service_values(host, "spaced")["ImagePath"][1]
    assert image_path == f'"{spaced}" RUN {host.service_name("spaced")}'
    assert event_source_values(host, "spaced")["EventMessageFile"][1] == spaced.replace("keldraagent.exe",
                                                                                        "vossevent.dll")
    # The registered command line, started as the service manager starts it,
    # runs the agent (asked only for its version).
    started = host.run(fixtures / "processprobe.exe", "launch", image_path + " --version")
    assert (started.returncode, started.stdout) == (0, BANNER), outcome(started)


def test_a_service_name_with_a_blank_reaches_the_started_agent_whole(host, agent, fixtures):
    result = run_agent(host, agent, "INSTALL", "front desk")
    assert (result.returncode, result.stdout) == (0, b"")
    image_path = service_values(host, "front desk")["ImagePath"][1]
    assert image_path == f'"{agent}" RUN "{host.service_name("front desk")}"'
    assert event_source_values(host, "front desk")["TypesSupported"] == ("REG_DWORD", "0x7")
    # Split into two words, the name would make the agent refuse its command
    # line instead of printing its version.
    started = host.run(fixtures / "processprobe.exe", "launch", image_path + " --version")
    assert (started.returncode, started.stdout) == (0, BANNER), outcome(started)


def test_install_over_an_existing_service_reports_the_system_text_and_rewrites_the_source(
        host, agent, fixtures):
    install(host, agent, "existing", "-d", "First")
    key = EVENT_SOURCES + "\\" + host.service_name("existing")
    # An earlier installation's message file, in another directory.
    assert host.run("reg", "add", key, "/v", "EventMessageFile", "/d", "C:\\Old\\vossevent.dll",
                    "/f").returncode == 0
    assert host.run("reg", "delete", key, "/v", "TypesSupported", "/f").returncode == 0

    # An account Windows knows: an unknown one could be refused first (1057).
    result = run_agent(host, agent, "INSTALL", "existing", "-d", "Second", "-u", "LocalSystem")
    assert result.returncode == exit_status(1073), outcome(result)
    exists_text = system_text(host, 1073)  # ERROR_SERVICE_EXISTS
    assert exists_text.endswith(b"\r\n") and not exists_text.startswith(b"Unknown error")
    assert console_line(exists_text).match(result.stdout), result.stdout
    # A display name taken is refused too (1078), and no event source is written for the name.
    result = run_agent(host, agent, "INSTALL", "existing2", "-d", "First")
    assert result.returncode == exit_status(1078) and event_source_values(host, "existing2") is None, outcome(result)
    values = service_values(host, "existing")
    assert values["DisplayName"] == ("REG_SZ", "First")
    assert values["ObjectName"] == ("REG_SZ", ".\\Administrator")
    assert event_source_values(host, "existing") == {
        "EventMessageFile": ("REG_SZ", agent.replace("keldraagent.exe", "vossevent.dll")),
        "TypesSupported": ("REG_DWORD", "0x7"),
    }


@pytest.mark.parametrize("name, password, account, registered", [
    ("nopass1", None, ".\\Administrator", None), ("nopass2", "", ".\\Administrator", None),
    ("nopass3", None, "CORP\\svcuser", None), ("nopass4", None, "svcuser@corp.example", None),
    ("nopass5", None, "LocalSystem", "LocalSystem"), ("nopass6", "", "LocalService", "NT AUTHORITY\\LocalService"),
    # Windows knows NT SERVICE\<name> only as the service's own virtual account.
    ("nopass7", None, "NT SERVICE\\<own name>", "NT SERVICE\\<own name>"),
    pytest.param("nopass8", None, "CORP\\gmsa-keldra$", "CORP\\gmsa-keldra$", marks=NO_SUCH_ACCOUNT),
    ("nopass9", None, "NT AUTHORITY\\Network Service", "NT AUTHORITY\\NetworkService"),
    # Windows has that virtual account only for the service of that name.
    ("nopass10", None, "NT SERVICE\\KeldraElsewhere", "refused"),
])
def test_install_without_password_changes_nothing_and_exits_1_unless_the_account_takes_none(
        host, agent, name, password, account, registered):
    own = host.service_name(name)
    account, registered = (text and text.replace("<own name>", own) for text in (account, registered))
    result = run_agent(host, agent, "INSTALL", name, "-u", account, password=password)
    if registered != "refused" and registered:
        assert (result.returncode, result.stdout, service_values(host, name)["ObjectName"]) == (
            0, b"", ("REG_SZ", registered))
        return
    assert result.returncode == 1
    refusal = (b"ERROR: %s is the virtual account of another service; the one of this service is NT SERVICE\\%s. "
               b"Nothing was installed." % (account.encode(), own.encode()))
    assert console_line(refusal if registered else b"ERROR: KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD environment "
                        b"variable is not set.").match(result.stdout), result.stdout
    assert service_values(host, name) is None
    assert event_source_values(host, name) is None


# --- REMOVE ------------------------------------------------------------------

def create_stub_service(host, stub, name, mode, start=True):
    """A test service with an event source key, running when start is set."""
    INSTALLED.append(add_service(host, name, stub + " RUN " + mode, start))
    assert host.run("reg", "add", EVENT_SOURCES + "\\" + INSTALLED[-1], "/v", "TypesSupported",
                    "/t", "REG_DWORD", "/d", "7", "/f").returncode == 0


def remove_traced(host, agent, name):
    """REMOVE with the service calls traced; returns (result, trace, seconds)."""
    started = time.monotonic()
    result = run_agent(host, agent, "REMOVE", name, env={"WINEDEBUG": "+service,+timestamp"} if host.traced else None)
    return result, result.stderr.decode("latin-1"), time.monotonic() - started


def wait_until_gone(host, name, timeout=30):
    deadline = time.monotonic() + timeout
    while service_values(host, name) is not None and time.monotonic() < deadline:
        time.sleep(0.2)
    return service_values(host, name) is None


# name, the stub's stop ("installed": never started), how many times REMOVE
# may query the status, whether it deletes the service, seconds it takes
REMOVALS = [
    ("stopped", "installed", (1, 1), True, 0),  # deleted at the first poll
    ("running", "prompt", (1, 5), True, 0),
    ("slowstop", "slow", (2, 5), True, 2.0),  # stops 2.5 s after the control
    # Stays STOP_PENDING for 30 s: five pauses of a second, the fifth
    # query's too; then no deletion, which is said, and exit code 1053.
    ("stuck", "stuck", (5, 5), False, 5.0),
]
STOP_TIMED_OUT = (b"the service has not stopped within five seconds, so it was not removed; stop it with sc.exe "
                  b"stop %s and run REMOVE again")


@pytest.mark.parametrize("name, stop, queries, deleted, least", REMOVALS, ids=[r[0] for r in REMOVALS])
def test_remove_polls_once_a_second_until_the_service_stops_and_gives_up_after_five_polls(
        host, agent, stub, name, stop, queries, deleted, least):
    if stop == "installed":
        install(host, agent, name)
    else:
        create_stub_service(host, stub, name, stop)
    result, trace, seconds = remove_traced(host, agent, name)
    if deleted:
        assert (result.returncode, result.stdout) == (0, b""), outcome(result)
    else:
        assert result.returncode == exit_status(1053), outcome(result)
        assert console_line(STOP_TIMED_OUT % host.service_name(name).encode()).match(result.stdout), result.stdout
    assert seconds >= least
    if wine_only(host, QUERIES):
        times = query_times(trace)
        assert queries[0] <= len(times) <= queries[1], trace
        assert all(0.95 <= later - earlier <= 4.0 for earlier, later in zip(times, times[1:])), times
        assert len(DELETE_CALL.findall(trace)) == deleted
    if deleted:
        assert wait_until_gone(host, name, timeout=0 if stop == "installed" else 30)
    else:
        assert b"STOP_PENDING" in host.run("sc", "query", host.service_name(name)).stdout
    # The event source goes in every case.
    assert event_source_values(host, name) is None


def test_remove_of_a_service_another_program_holds_open_says_when_it_will_be_gone(host, agent, fixtures):
    install(host, agent, "heldopen")
    # A program keeps the service open, as the Services console does, and
    # ends by itself.
    holder = host.spawn(fixtures / "scmclient.exe", "hold", host.service_name("heldopen"), 15000)
    assert holder.stdout.readline().strip() == b"holding", holder.communicate()
    # Deleted, as sc.exe delete says (0), but only marked, since it is held; said.
    result = run_agent(host, agent, "REMOVE", "heldopen")
    assert result.returncode == 0 and service_values(host, "heldopen") is not None, outcome(result)
    assert b" the service is marked for deletion; it will be gone once every program" in result.stdout
    # Meanwhile INSTALL fails (1072) and leaves no event source without a service.
    result = run_agent(host, agent, "INSTALL", "heldopen")
    assert result.returncode == exit_status(1072) and event_source_values(host, "heldopen") is None, outcome(result)
    result = run_agent(host, agent, "REMOVE", "heldopen")
    assert result.returncode == exit_status(1072), outcome(result)
    assert b" the service is already marked for deletion; it will be gone once every program" in result.stdout
    holder.communicate(timeout=60)
    assert wait_until_gone(host, "heldopen")


def test_remove_of_a_name_never_installed_says_so_and_ends_with_1060(host, agent):
    result = run_agent(host, agent, "REMOVE", "neverinstalled")
    assert result.returncode == exit_status(1060), outcome(result)  # ERROR_SERVICE_DOES_NOT_EXIST
    assert console_line(system_text(host, 1060), b"Failed to uninstall source").match(result.stdout), result.stdout


def test_remove_deletes_an_event_source_that_has_no_service(host, agent):
    assert host.run("reg", "add", EVENT_SOURCES + "\\" + host.service_name("orphan"), "/f").returncode == 0
    result = run_agent(host, agent, "REMOVE", "orphan")
    assert result.returncode == exit_status(1060), outcome(result)
    assert console_line(system_text(host, 1060)).match(result.stdout), result.stdout
    assert event_source_values(host, "orphan") is None


# --- texts: the system's, and the event message library ----------------------

@pytest.mark.xfail(ON_WINDOWS, strict=True, reason="Wine's text for error 5; Windows' is 'Access is denied.'")
def test_system_error_text_is_the_systems_own_or_a_defined_fallback(host, fixtures):
    result = host.run(fixtures / "messageprobe.exe", "system", "5", "0x20001234", "0xFFFFFFFF")
    assert result.returncode == 0
    assert result.stdout.split(b"\0")[:3] == [
        b"Access denied.\r\n",  # Wine's text for ERROR_ACCESS_DENIED
        b"Unknown error 536875572 (0x20001234).",
        b"Unknown error 4294967295 (0xFFFFFFFF).",
    ]


@pytest.mark.parametrize("event, insertion", [(0, "Worker application restarted."),
                                              (0, "Kel\u00e9dra %1 \u4e2d 100%"), (0, "two\r\nlines"),
                                              (1, "Worker application restarted 60 times in the last hour; x")])
def test_the_message_library_renders_each_event_as_its_insertion_string(host, dist, fixtures, event, insertion):
    library = host.place(dist / "vossevent.dll", "Keldra", "bin", "vossevent.dll")
    result = host.run(fixtures / "messageprobe.exe", "library", library, insertion, event)
    assert (result.returncode, result.stdout) == (0, insertion.encode("utf-8"))
