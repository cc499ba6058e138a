"""keldraagent RUN under the host's Service Control Manager: the states, the
event-log messages and the worker's life, checked in order.

Several services run at once, one per concern, so that their waits overlap.
Times come from the worker's own records and the service control client,
on the performance counter, so a loaded machine delays a test but does not
bend what it measures; under Wine the trace adds every status report."""
import os
import pathlib
import re
import signal
import time

import pytest

from agent_service import (HANDLED, LAUNCHES, PAUSED, REPORTS, RESTARTED, RUNNING, START_PENDING, STOP_PENDING,
                           STOPPED, TIMESTAMP, TRACE_LINE, AgentService, alive, seconds, serve, system_text,
                           wait_until_gone, watch_exit)
from conftest import ON_WINDOWS
from wine_session import (ADDR_NO_RANDOMIZE, WINE_VERSION, WineSession, exit_status, outcome, require_wine,
                          wine_only)

FOREVER_WITH_CHILD = "exit=0 run_ms=-1 child=1"
TEN_MB = 10 * 1024 * 1024
# The restart delay is one second; the next worker records its start at most
# a few seconds later on a loaded 2-core machine.
ONE_SECOND = (0.95, 5.0)
# A pause or a stop that finds the pause token taken waits 9970 ms for it.
TOKEN_WAIT = (9.0, 25.0)


@pytest.fixture(scope="module")
def services(service_manager, fixtures, dist):
    host = service_manager
    made = {
        # A directory with a blank, and a program planted where an unquoted
        # worker path would find it first.
        "start": AgentService(host, fixtures, dist, "KeldraStart", folder=["Keldra Test", "start"],
                              options=r"-c C:\conf.ini -l 3 -d Shown -u someone -o x"),
        "pause": AgentService(host, fixtures, dist, "KeldraPause"),
        # Registered by INSTALL itself, with a blank in its name.
        "exits": AgentService(host, fixtures, dist, "Keldra Exits"),
        "missing": AgentService(host, fixtures, dist, "KeldraMissing"),
        "output": AgentService(host, fixtures, dist, "KeldraOutput"),
        "kill": AgentService(host, fixtures, dist, "KeldraKill"),
        "startstop": AgentService(host, fixtures, dist, "KeldraStartStop"),
    }
    host.place(fixtures / "keldraworker.exe", "Keldra.exe")
    made["start"].place_worker(FOREVER_WITH_CHILD)
    made["pause"].place_worker("exit=0 run_ms=-1")
    made["exits"].place_worker("exit=0 run_ms=300", "exit=7 run_ms=300", "exit=259 run_ms=300")
    made["output"].place_worker(f"exit=259 run_ms=0 write={TEN_MB}")
    made["kill"].place_worker(FOREVER_WITH_CHILD)
    made["startstop"].place_worker("exit=0 run_ms=-1")
    yield from serve(made, installed=[made["exits"]])


def agent_pid(service):
    return service.wait_for_state(RUNNING)["pid"]


def delays(earlier, later):
    """Seconds from each earlier record to the first later one after it."""
    found = []
    for entry in earlier:
        following = [seconds(other) for other in later if other["qpc_us"] > entry["qpc_us"]]
        found.append(round(following[0] - seconds(entry), 3) if following else None)
    return found


def within(values, bounds):
    return all(value is not None and bounds[0] <= value <= bounds[1] for value in values)


def test_run_from_a_console_says_how_to_start_the_service_and_ends_with_1063(host, dist):
    # Under Wine, unlike Windows, the console agent waits up to 10 s for the
    # control pipe of the last service started, and takes over a start that
    # is under way: it must find none. Run before this module's services
    # start: after it, Wine's manager could no longer send a control to some
    # of them ("failed to write pipe").
    host.settle()
    result = host.run(dist / "keldraagent.exe", "RUN", "Keldra Console", "-c", "x", "-t", "5", "-r", "1",
                      "-l", "NOISY")
    # ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, said on the console, not in the event log.
    assert result.returncode == exit_status(1063), outcome(result)
    assert re.fullmatch(TIMESTAMP + rb' RUN is for the Service Control Manager, which starts the installed service '
                        rb'with it; start the service with sc.exe start "Keldra Console" or in the Services '
                        rb'console\r\n', result.stdout), outcome(result)


def test_start_up_reports_progress_then_running(services, host):
    service = services["start"]
    pid = agent_pid(service)
    if not wine_only(host, REPORTS):
        return
    reports = service.statuses(pid)
    running = [i for i, report in enumerate(reports) if report[0] == RUNNING]
    assert running, reports
    start_up = reports[:running[0] + 1]
    progress = len(start_up) - 2
    expected = [(2, 3, 0, 0, step, 15000 + 1000 * step) for step in range(progress + 1)]
    expected.append((RUNNING, 3, 0, 0, progress, 1000))
    assert start_up == expected


def test_worker_gets_debug_pid_and_a_quoted_path_whatever_the_options(services, host):
    service = services["start"]
    pid = agent_pid(service)
    first = service.wait_for_records("start", 1)[0]
    assert first["cmd"] == f'"{host.windows_path(service.directory / "keldraworker.exe")}" DEBUG --pid {pid}'
    # The process whose id the worker was given made the reports and the launch.
    if wine_only(host, LAUNCHES):
        assert service.statuses(pid)
        assert [step.value for step in service.steps(pid, kind="launch")] == [first["cmd"]]
    # C:\Keldra.exe, which an unquoted path would have started, never ran.
    assert not (host.drive_c / "keldraworker.record").exists()


def test_a_name_with_a_blank_registered_by_install_starts_the_service(services):
    service = services["exits"]
    # Split into two words, the name would make the agent refuse its command
    # line and end before it reported anything.
    pid = agent_pid(service)
    assert service.wait_for_records("start", 1)[0]["cmd"].endswith(f" DEBUG --pid {pid}")


def test_interrogate_and_user_defined_controls_change_nothing(services, host, fixtures):
    # The service manager refuses the shutdown control from a client (error
    # 87), so it cannot be shown to reach the agent here.
    service = services["start"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    mark = host.mark()
    for code in (4, 200):
        exit_code, status, _ = service.control(code)
        assert (exit_code, status.get("state")) == (0, RUNNING), status
    # Each control has been handled when the call returns: the handler ran,
    # and reported nothing.
    if wine_only(host, HANDLED):
        assert [step.value for step in service.steps(pid, mark, "control")] == [4, 200]
        assert service.statuses(pid, mark) == []
    assert alive(host, fixtures, worker) == {worker: True}
    assert not service.events_shown() or service.events(pid, mark) == []
    assert len(service.records("start")) == 1
    assert service.query()["state"] == RUNNING


def test_stop_while_running_ends_worker_and_its_child(services, host, fixtures):
    service = services["start"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    child = service.wait_for_records("child", 1)[-1]["pid"]
    check_point = service.check_point(pid)
    mark = host.mark()
    exit_code, _, _ = service.control(1)
    assert exit_code == 0
    service.wait_for_state(STOPPED)
    assert check_point is None or service.statuses(pid, mark) == [(STOP_PENDING, 3, 0, 0, check_point + 1, 1000),
                                                         (STOPPED, 3, 0, 0, 0, 1000)]
    assert wait_until_gone(host, fixtures, [worker, child, pid]) == {worker: False, child: False, pid: False}
    # The agent has ended: whatever it did after the stop is on record.
    assert not service.events_shown() or service.events(pid, mark) == []
    assert len(service.records("start")) == 1


def test_a_stop_right_after_the_start_is_followed_by_no_running_report_and_no_worker(services, host):
    service = services["startstop"]
    agent_pid(service)
    service.control(1)
    service.wait_for_state(STOPPED)
    service.started_at = host.mark()
    code, output = service.scm("startstop", service.name, 50)
    assert code == 0, output
    if not wine_only(host, REPORTS):
        return
    # Each round's agent is known by its stop (no other service stops meanwhile).
    rounds = [[]]
    for pid in {int(line[1], 16) for line in TRACE_LINE.findall(host.trace_since(service.started_at))
                if line[3] == "service_handle_control" and " control 1 " in line[4]}:
        for step in service.steps(pid):  # Wine reuses ids: one id's steps may span rounds
            rounds[-1] += [step.value[0]] if step.kind == "status" else [step.kind] if step.kind == "launch" else []
            if rounds[-1][-1:] == [STOPPED]:
                rounds.append([])
    rounds.pop()
    assert len(rounds) == 50, rounds
    for steps in rounds:
        assert steps[0] == START_PENDING and steps[steps.index(STOP_PENDING):] == [STOP_PENDING, STOPPED], steps
    # Wine's service manager delivers a stop while the start is pending.
    assert [steps for steps in rounds if RUNNING not in steps], rounds


def test_two_pauses_in_a_row_end_the_worker_and_start_none(services, host, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    check_point = service.check_point(pid)
    watcher = watch_exit(host, fixtures, worker, 60000)
    mark = host.mark()
    exit_code, status, _ = service.control(2)
    assert (exit_code, status.get("state")) == (0, PAUSED), status
    assert watcher.communicate(timeout=60)[0].decode().split() == ["exit=0"]
    # The second pause finds the token taken and waits it out: ten seconds in
    # which a worker started after the pause would show.
    exit_code, status, elapsed = service.control(2)
    assert (exit_code, status.get("state")) == (0, PAUSED), status
    assert TOKEN_WAIT[0] <= elapsed <= TOKEN_WAIT[1]
    assert check_point is None or service.statuses(pid, mark) == [(PAUSED, 3, 0, 0, check_point, 1000)] * 2
    assert not service.events_shown() or service.events(pid, mark) == []
    assert len(service.records("start")) == 1


def test_one_continue_resumes_and_starts_a_worker_a_second_after_the_restart_message(services, host, fixtures):
    service = services["pause"]
    pid = service.query()["pid"]
    check_point = service.check_point(pid)
    mark = host.mark()
    exit_code, status, _ = service.control(3)
    assert (exit_code, status.get("state")) == (0, RUNNING), status
    worker = service.wait_for_records("start", 2)[1]
    assert check_point is None or service.statuses(pid, mark) == [(RUNNING, 3, 0, 0, check_point, 1000)]
    assert not service.events_shown() or service.events(pid, mark, 1) == [RESTARTED]
    # From the moment the continue was sent, before the agent reported
    # RUNNING, to the worker's own start.
    assert within(delays([status], [worker]), ONE_SECOND), (status, worker)
    assert alive(host, fixtures, worker["pid"]) == {worker["pid"]: True}


def test_a_continue_while_running_changes_nothing_and_a_stop_while_paused_waits_for_the_token(
        services, host, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 2)[-1]["pid"]
    check_point = service.check_point(pid)
    mark = host.mark()
    exit_code, status, _ = service.control(3)
    assert (exit_code, status.get("state")) == (0, RUNNING), status
    assert check_point is None or service.statuses(pid, mark) == [(RUNNING, 3, 0, 0, check_point, 1000)]
    assert alive(host, fixtures, worker) == {worker: True}

    assert service.control(2)[1].get("state") == PAUSED
    exit_code, _, elapsed = service.control(1)
    assert exit_code == 0
    assert TOKEN_WAIT[0] <= elapsed <= TOKEN_WAIT[1]
    service.wait_for_state(STOPPED)
    assert wait_until_gone(host, fixtures, [worker, pid]) == {worker: False, pid: False}
    assert check_point is None or [report[0] for report in service.statuses(pid, mark)] == [RUNNING, PAUSED,
                                                                                    STOP_PENDING, STOPPED]
    # Neither the continue nor the stop started a worker or logged a restart.
    assert not service.events_shown() or service.events(pid, mark) == []
    assert len(service.records("start")) == 2


def test_each_end_but_259_is_followed_by_one_restart_message_and_a_launch_a_second_later(
        services, host, fixtures):
    service = services["exits"]
    pid = agent_pid(service)
    ends = service.wait_for_records("end", 3)
    assert [end["exit"] for end in ends] == [0, 7, 259]
    assert wait_until_gone(host, fixtures, [ends[2]["pid"]]) == {ends[2]["pid"]: False}
    assert service.query()["state"] == RUNNING
    # Stopped, the agent ends: all that followed the exit code 259 is then
    # on record.
    assert service.control(1)[0] == 0
    service.wait_for_state(STOPPED)
    assert wait_until_gone(host, fixtures, [pid]) == {pid: False}
    starts = service.records("start")
    assert len(starts) == 3
    assert within(delays(ends[:2], starts), ONE_SECOND), (ends, starts)
    assert not service.events_shown() or service.events(pid) == [RESTARTED, RESTARTED]
    assert not wine_only(host, LAUNCHES) or len(service.steps(pid, kind="launch")) == 3


def test_a_missing_worker_is_tried_once_a_second_told_ten_times_and_run_once_put_back(services, host, fixtures):
    service = services["missing"]
    pid = agent_pid(service)
    text = system_text(host, 2).decode("utf-8")
    assert text
    # The Application log keeps the text's CR LF; Wine's trace escapes it.
    not_found = text if host.kind == "windows" else text.replace("\r", "\\r").replace("\n", "\\n")
    # Missing for half a minute: a launch about every second, the first ten
    # restarts told with the system's text, then nothing (a summary would
    # follow an hour on).
    time.sleep(max(0.0, 32 - (time.monotonic() - service.started_time)))
    assert service.query()["state"] == RUNNING
    assert not service.events_shown() or service.events(pid) == [not_found, RESTARTED] * 10
    if wine_only(host, LAUNCHES):
        launches = service.steps(pid, kind="launch")
        assert launches[-1].time - launches[0].time >= 28, launches
        assert within([later.time - earlier.time for earlier, later in zip(launches, launches[1:])], ONE_SECOND)
        # The first attempts' two messages follow each before the next attempt.
        steps = [(step.kind, step.value) for step in service.steps(pid) if step.kind in ("launch", "event")]
        assert steps[:9] == [("launch", launches[0].value), ("event", not_found), ("event", RESTARTED)] * 3
    put_back = time.monotonic()
    service.place_worker("exit=0 run_ms=-1")
    service.wait_for_records("start", 1)
    assert time.monotonic() - put_back <= ONE_SECOND[1]


def test_a_worker_writing_ten_megabytes_runs_to_its_end(services):
    service = services["output"]
    service.wait_for_records("end", 1, timeout=90)
    assert service.records("wrote")[0]["bytes"] == TEN_MB


def test_killing_the_agent_ends_the_worker_and_its_child(services, host, fixtures):
    service = services["kill"]
    agent_pid(service)  # running
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    child = service.wait_for_records("child", 1)[-1]["pid"]
    result = host.run("taskkill", "/F", "/PID", service.query()["pid"])
    assert result.returncode == 0, outcome(result)
    assert wait_until_gone(host, fixtures, [worker, child]) == {worker: False, child: False}


@pytest.mark.xfail(not ON_WINDOWS and WINE_VERSION < (10,), strict=True, reason="Wine 8's service manager does "
                   "not notice that the process of a running service has ended; Wine 10's does")
def test_the_service_manager_reports_a_killed_agent_stopped(services):
    # ERROR_PROCESS_ABORTED: the process ended without reporting stopped.
    assert services["kill"].wait_for_state(STOPPED, timeout=10)["exit"] == 1067


def test_the_session_wineserver_survives_handle_table_reads_and_its_death_leaves_no_process(host, fixtures, dist):
    # Wine 8's stock server crashed when the system's handle table was read
    # (as the test worker and processprobe do) while a program started from
    # Linux had no handle yet; the sessions run a server with that mended
    # (scripts/build-wineserver). And once a session's wineserver is gone,
    # `wineserver -k` reaches none of its processes: the teardown must find
    # and end them itself.
    require_wine(host, "a wineserver of a session of its own")
    session = WineSession()
    try:
        session.start()
        reader = session.spawn(fixtures / "processprobe.exe", "race", 8000)
        for _ in range(15):
            session.run(fixtures / "processprobe.exe", "alive", 0, timeout=60)
        output, errors = reader.communicate(timeout=90)
        assert output.startswith(b"reads="), (output, errors[-2000:], session.wineserver_log.read_text())
        service = AgentService(session, fixtures, dist, "KeldraOrphaned")
        service.place_worker(FOREVER_WITH_CHILD)
        service.create()
        service.start()
        service.wait_for_records("child", 1)
        # Every Wine process runs without address randomisation (see
        # wine_session.without_address_randomization).
        for pid, _, _ in session.processes():
            personality = int(pathlib.Path(f"/proc/{pid}/personality").read_text(), 16)
            assert personality & ADDR_NO_RANDOMIZE, session.processes()
        servers = [pid for pid, cmdline, _ in session.processes() if "wineserver" in cmdline]
        assert len(servers) == 1, session.processes()
        os.kill(servers[0], signal.SIGKILL)
    finally:
        session.stop()
    assert session.processes() == []
