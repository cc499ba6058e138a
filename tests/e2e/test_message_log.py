"""logMessage: a timestamped console line without an event source, one
information event (type 4, category 0, id 0) with the bare message with one;
the restart summary alone is a warning (type 2) with id 1."""
import re

from agent_service import TIMESTAMP
from wine_session import WINE_VERSION, wine_only

EVENT_CALL = re.compile(r"fixme:advapi:ReportEventW \([0-9A-Fa-f]+,(0x[0-9a-f]+),(0x[0-9a-f]+),"
                        r"(0x[0-9a-f]+),[0-9A-Fa-f]+,(0x[0-9a-f]+),(0x[0-9a-f]+),")
EVENT_TEXT = re.compile(r'trace:eventlog:ReportEventW L"(.*)"')
SUMMARY = "Worker application restarted 3541 times in the last hour; the last worker ended with exit code 7"


def test_console_lines_carry_a_timestamp_and_the_message_unchanged(host, fixtures):
    result = host.run(fixtures / "messageprobe.exe", "log", "-", "Failed to uninstall source", "", "@restart",
                      "line ends\r\n", "Worker application restarted.")
    assert result.returncode == 0
    lines = re.findall(rb"(" + TIMESTAMP + rb") (.*?)\r\n", result.stdout)
    assert [text for _, text in lines] == [b"Failed to uninstall source", b"",
                                          b"Worker application restarted.", b"line ends",
                                          b"Worker application restarted."]
    # A message that ends a line itself keeps its CR LF, once, and is
    # followed by an empty line.
    assert b" line ends\r\n\r\n" in result.stdout
    assert b"\r\r" not in result.stdout


def test_with_an_event_source_each_message_is_one_information_event(host, fixtures):
    source, mark = host.service_name("KeldraProbe"), host.mark()
    result = host.run(fixtures / "messageprobe.exe", "log", source, "Failed to uninstall source", "",
                      "@restart", "@warning:" + SUMMARY, env={"WINEDEBUG": "+eventlog"} if host.traced else None)
    assert result.returncode == 0
    assert result.stdout == b""
    texts = ["Failed to uninstall source", "", "Worker application restarted.", SUMMARY]
    if host.kind == "windows":
        assert host.events(source, mark, 4, whole=True) == [(4, 0, 0, text) for text in texts[:3]] + [
            (2, 0, 1, SUMMARY)]
        return
    if not wine_only(host, "each event's type, category and id: Wine's event log is a stub"):
        return
    trace = result.stderr.decode("latin-1")
    calls = EVENT_CALL.findall(trace)
    assert calls == [("0x0004", "0x0000", "0x00000000", "0x0001", "0x00000000")] * 3 + [
        ("0x0002", "0x0000", "0x00000001", "0x0001", "0x00000000")]
    # Wine traces a warning's text in a class of its own; Wine 10 does not
    # trace an empty text (Wine 8 does).
    assert EVENT_TEXT.findall(trace) == [text for text in texts[:3] if text or WINE_VERSION < (10,)]
    assert re.findall(r'warn:eventlog:ReportEventW L"(.*)"', trace) == [SUMMARY]
