import pytest

from wine_session import DIST, FIXTURES, WineSession


@pytest.fixture(scope="session")
def wine():
    session = WineSession()
    session.start()
    yield session
    session.stop()


@pytest.fixture(scope="session")
def dist():
    return DIST


@pytest.fixture(scope="session")
def fixtures():
    return FIXTURES
