import pytest

from wine_session import DIST, FIXTURES, WineSession, end_processes

SESSION = pytest.StashKey[WineSession]()
FIRST_RUN = pytest.StashKey[int]()


@pytest.fixture(scope="session")
def wine(request):
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
def service_manager(wine):
    """The session's service manager, checked to give control handlers
    Windows' 30 s."""
    wine.confirm_pipe_timeout()
    return wine


@pytest.fixture(scope="session")
def dist():
    return DIST


@pytest.fixture(scope="session")
def fixtures():
    return FIXTURES


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
    assert not end_processes(left), f"processes of {request.module.__name__} outlived SIGKILL: {left}"


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
    session = config.stash.get(SESSION, None)
    if session is not None and session.keep_logs:
        terminalreporter.write_line(f"Wine session logs kept in {session.logs}")
