import hashlib

import pytest

from mirelt_support import Launcher
from wine_session import DIST, FIXTURES, ON_WINDOWS, WINE_ONLY, WINE_VERSION, WineSession

SESSION = pytest.StashKey[object]()
FIRST_RUN = pytest.StashKey[int]()


@pytest.fixture(scope="session")
def host(request):
    if ON_WINDOWS:
        from windows_host import WindowsHost
        session = WindowsHost()
    else:
        session = WineSession()
    request.config.stash[SESSION] = session
    try:
        session.start()
    except BaseException:
        session.keep_logs = True
        session.stop()
        raise
    yield session
    session.stop()


@pytest.fixture(scope="session")
def service_manager(host):
    """The host's service manager; Wine's is checked to give control
    handlers Windows' 30 s."""
    host.confirm_pipe_timeout()
    return host


@pytest.fixture(scope="session")
def dist():
    return DIST


@pytest.fixture(scope="session")
def fixtures():
    return FIXTURES


@pytest.fixture
def launcher(host, dist, fixtures, request):
    """mirelt with a temporary directory and a corner of drive_c of this test's own, named by a short
    hash of the test: Windows skips a TMP of more than about 130 characters."""
    return Launcher(host, dist, fixtures, hashlib.sha256(request.node.nodeid.encode()).hexdigest()[:12])


@pytest.fixture(scope="module", autouse=True)
def nothing_outlives_the_module(request):
    """Ends every process that a module's tests started and left running (a
    service still stopping, a worker, a program in the background) once the
    module's own fixtures have ended theirs, so that nothing of one module
    runs on into the next."""
    session = request.config.stash.get(SESSION, None)
    before = {process[0] for process in session.own_processes()} if session else set()
    yield
    session = request.config.stash.get(SESSION, None)
    if session is None:
        return
    before |= session.own_processes_at_start  # the session's own, wherever it began
    left = [process for process in session.own_processes() if process[0] not in before]
    assert not session.end_processes(left), f"processes of {request.module.__name__} outlived SIGKILL: {left}"


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item):
    session = item.config.stash.get(SESSION, None)
    item.stash[FIRST_RUN] = len(session.runs) if session else 0


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test shows every Windows program it ran (exit code, stdout,
    stderr), and the session's logs are kept."""
    report = (yield).get_result()
    session = item.config.stash.get(SESSION, None)
    if report.failed and session is not None:
        session.keep_logs = True
        report.sections.append(("Windows programs run by this test",
                                session.failure_report(item.stash.get(FIRST_RUN, 0))))


def pytest_terminal_summary(terminalreporter, config):
    """What this host showed: the cases that passed here, the checks that
    only Wine's debug channels make (run or skipped, with why nothing else
    shows them), and the known differences between the hosts."""
    session = config.stash.get(SESSION, None)
    if session is None:
        return
    if session.keep_logs:
        terminalreporter.write_line(f"session logs kept in {session.logs}")
    count = lambda kind: len(terminalreporter.stats.get(kind, []))
    mode = ("windows" if ON_WINDOWS else "wine " + ".".join(map(str, WINE_VERSION))) + (
        "" if session.traced or ON_WINDOWS else ", every debug channel off")
    for (why, ran), checks in sorted(WINE_ONLY.items()):
        terminalreporter.write_line(f"Wine-only check {'run' if ran else 'skipped'} {checks}x: {why}")
    terminalreporter.write_line(
        f"e2e on {mode}: {count('passed')} cases passed, {count('failed')} failed, {count('skipped')} skipped "
        f"(why: above); Wine-only checks: {sum(n for (_, ran), n in WINE_ONLY.items() if ran)} run, "
        f"{sum(n for (_, ran), n in WINE_ONLY.items() if not ran)} skipped, of {len({w for w, _ in WINE_ONLY})} "
        f"kinds; expected differences: {count('xfailed')}")
