"""One rule in both programs: a source file that uses Windows says so in its
name (<concern>_win.cpp or .h); every other file has no Windows types."""
import pathlib
import re

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
USES_WINDOWS = re.compile(r'^#include (<windows\.h>|"\w+_win\.h")', re.M)


@pytest.mark.parametrize("program", ["agent", "launcher"])
def test_files_that_use_windows_end_in_win(program):
    sources = sorted(p for p in (REPO / program).iterdir() if p.suffix in (".cpp", ".h"))
    assert sources
    misnamed = [p.name for p in sources if bool(USES_WINDOWS.search(p.read_text())) != p.stem.endswith("_win")]
    assert misnamed == []
