"""keldraagent's console: banner, usage, the invalid-command-line report and
exit codes, byte for byte as a pipe receives them (CR LF line ends, UTF-8);
and what the deliverables import and load at start."""
import re
import shutil
import subprocess

import pytest

from agent_service import TIMESTAMP
from wine_session import LONG_MODULE_PATH, exit_status, outcome, require_wine, wine_only

BANNER = (b"Keldra Agent\r\n"
          b"Version: 9.8.0\r\n"
          b"(Revision: REL-9_8_0-1, Built on: Nov 21 2024 09:33:56)\r\n"
          b"Schema Supported: 202411191\r\n"
          b"\r\n")

USAGE_TAIL = (b"options:\r\n"
              b"-h/--help (Print usage)\r\n"
              b"-v/--version (show the version & the supported schema and, then exit)\r\n"
              b"-c <configuration file>\r\n"
              b"-o <option name>=<option value>\r\n"
              b"-u <user or DOMAIN\\user>\r\n"
              b"-d <displayname>\r\n"
              b"-t <poll time interval in seconds (default 10)>\r\n"
              b"-r <retry period after connection abort in seconds (>=10, default 30)>\r\n"
              b"-l <logging verbosity (ERROR, WARNING, DEBUG1, DEBUG2, default ERROR)>\r\n")


def usage(module_path):
    path = module_path.encode("utf-8")
    return (b"Usage:\r\n" + path + b" REMOVE <serviceName>\r\n" +
            path + b" INSTALL <serviceName> [options]\r\n" + USAGE_TAIL)


@pytest.fixture(scope="module")
def agent(host, dist):
    return host.place(dist / "keldraagent.exe", "Agent", "keldraagent.exe")


def invalid_report(module_path):
    return re.compile(rb"\A" + TIMESTAMP + rb" Invalid argument provided\.\r\n" +
                      re.escape(BANNER + usage(module_path)) + rb"\Z")


@pytest.mark.parametrize("args", [["INSTALL", "svc", "-v"], ["RUN", "svc", "--version"],
                                  ["REMOVE", "svc", "-d", "x", "-vfoo", "-bad"]])
def test_version_prints_the_banner_alone(host, agent, args):
    result = host.run(agent, *args)
    assert result.returncode == 0
    assert result.stdout == BANNER


@pytest.mark.parametrize("args", [["INSTALL", "svc", "-h"], ["INSTALL", "svc", "-hello", "-x"],
                                  ["REMOVE", "svc", "--help"]])
def test_help_prints_banner_and_usage_with_the_full_module_path(host, agent, args):
    result = host.run(agent, *args)
    assert result.returncode == 0
    assert result.stdout == BANNER + usage(agent)


@pytest.mark.parametrize("args", [
    [], ["-h"], ["--help"], ["install", "svc"], ["INSTALL"], ["INSTALL", ""], ["REMOVE", "a\\b"],
    ["INSTALL", "%SystemRoot%"], ["INSTALL", "x%USERNAME%y"], ["REMOVE", "50%"],
    ["INSTALL", "svc", "extra"], ["INSTALL", "svc", "-x", "-h"], ["INSTALL", "svc", "--helpme"],
    ["INSTALL", "svc", "-"], ["INSTALL", "svc", "--"],
])
def test_invalid_command_line_is_reported_with_usage_and_exit_code_1(host, agent, args):
    result = host.run(agent, *args)
    assert result.returncode == 1
    assert invalid_report(agent).match(result.stdout), result.stdout


def test_characters_outside_the_code_page_never_silence_the_console(host, dist):
    # A path in another script: the usage lines still come, whole, as UTF-8.
    agent = host.place(dist / "keldraagent.exe", "Agent \u65e5\u672c \u03a9", "keldraagent.exe")
    result = host.run(agent, "INSTALL", "\u0416\u0443\u043a", "extra")
    assert result.returncode == 1
    assert invalid_report(agent).match(result.stdout), result.stdout


def test_a_module_path_longer_than_max_path_is_shown_whole(host, dist):
    require_wine(host, LONG_MODULE_PATH)
    parts = ["Deep"] + ["directory-%02d-%s" % (i, "x" * 20) for i in range(10)]
    agent = host.place(dist / "keldraagent.exe", *parts, "keldraagent.exe")
    assert len(agent) > 260
    result = host.run(agent, "REMOVE", "svc", "-h")
    assert result.returncode == 0
    assert result.stdout == BANNER + usage(agent)


# What each deliverable needs from the system: nothing that every Windows
# does not have, and no more than the service manager, the console, files
# and processes take.
IMPORTED = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
# What Wine loads for a program that imports only those (advapi32 brings
# sechost, msvcrt ucrtbase). Nothing of the desktop: user32 and gdi32 would
# stay for the life of the service, and on Windows tie it to a desktop heap;
# crypt32 and the provider behind it are what seeded the stack guard before.
LOADED_AT_START = {"kernelbase.dll", "sechost.dll", "ucrtbase.dll"} | IMPORTED
LOADED = re.compile(r'^(\w+):\w+:trace:loaddll:build_module Loaded L"[^"]*?([^"\\]+)"', re.M)


@pytest.mark.parametrize("name", ["keldraagent.exe", "mirelt.exe"])
def test_imports_only_dlls_that_every_windows_has(dist, name):
    if not shutil.which("x86_64-w64-mingw32-objdump"):
        pytest.skip("the import tables are read with MinGW-w64's objdump, which this machine lacks")
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(dist / name)],
                          capture_output=True, text=True, check=True).stdout
    imported = {dll.lower() for dll in re.findall(r"DLL Name: (\S+)", dump)}
    assert imported == IMPORTED
    # Windows forwards these ADVAPI32 exports (RtlGenRandom and its kin, and
    # CryptoAPI) to cryptbase.dll and cryptsp.dll, no known DLLs, looked for
    # beside the program before main. bcrypt.dll is not even named: under
    # Wine it loads GnuTLS and its kin for the life of the process.
    assert not set(re.findall(r"\b(SystemFunction0\d\d|B?Crypt[A-Z]\w+)\b", dump))
    assert b"bcrypt.dll" not in (dist / name).read_bytes().replace(b"\0", b"").lower()


# processprobe is built with the deliverables' flags and stack guard.
@pytest.mark.parametrize("how, said", [("stack", b"*** stack smashing detected ***: terminated\r\n"),
                                       ("call", b"*** buffer overflow detected ***: terminated\r\n")])
def test_an_overrun_buffer_ends_the_program_at_once(host, fixtures, how, said):
    within = host.run(fixtures / "processprobe.exe", "overrun", how, 16)
    assert within.returncode == 0, outcome(within)
    beyond = host.run(fixtures / "processprobe.exe", "overrun", how, 64)
    # STATUS_STACK_BUFFER_OVERRUN, as Windows ends such a program.
    assert (beyond.returncode, beyond.stderr) == (exit_status(0xC0000409), said), outcome(beyond)
    # Through a fast fail request, not TerminateProcess: Wine raises it as an
    # exception that no handler may continue.
    if wine_only(host, "a fast fail request, as Wine raises it"):
        traced = host.run(fixtures / "processprobe.exe", "overrun", how, 64, env={"WINEDEBUG": "+seh"})
        assert b"Unhandled exception code c0000409 flags 1 " in traced.stderr, outcome(traced)


# The agent prints its banner, mirelt with three arguments ends at once: each
# has then loaded all that it loads at start.
@pytest.mark.parametrize("name,args", [("keldraagent.exe", ["INSTALL", "svc", "-v"]), ("mirelt.exe", ["a", "b", "c"])])
def test_loads_no_library_at_start_that_it_does_not_need(host, dist, name, args):
    if not wine_only(host, "the libraries a process loads, and when"):
        pytest.skip("shown only by Wine's loaddll channel")
    program = host.place(dist / name, "Loaded", name)
    result = host.run(program, *args, env={"WINEDEBUG": "+pid,+loaddll"})
    assert result.returncode == 0
    loads = [(pid, module.lower()) for pid, module in LOADED.findall(result.stderr.decode("latin-1"))]
    ours = next(pid for pid, module in loads if module == name)
    loaded = {module for pid, module in loads if pid == ours and module != name}
    assert loaded == LOADED_AT_START, (f"beyond the list: {sorted(loaded - LOADED_AT_START)}, "
                                       f"missing: {sorted(LOADED_AT_START - loaded)}")
