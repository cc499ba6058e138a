import os
import pathlib
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))


@pytest.fixture(scope="session")
def repo():
    return REPO


@pytest.fixture(scope="session")
def build_root():
    return pathlib.Path(os.environ.get("KELDRA_BUILD_ROOT", REPO / "build")).resolve()


@pytest.fixture(scope="session")
def dist():
    return pathlib.Path(os.environ.get("KELDRA_DIST", REPO / "dist")).resolve()
