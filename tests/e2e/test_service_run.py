"""keldraagent RUN under Wine's Service Control Manager: the status reports,
the event-log messages and the worker's life, checked in order.

Several services run at once, one per concern, so that their waits overlap.
Times come from the service's own trace lines (its status reports, its
messages and its process creations), so a loaded machine delays a test but
does not bend what it measures."""
import os
import pathlib
import signal

import pytest

from agent_service import (PAUSED, RESTARTED, RUNNING, START_PENDING, STOP_PENDING, STOPPED, TRACE_LINE,
                           AgentService, alive, probe, serve, wait_until_gone, watch_exit)
from wine_session import ADDR_NO_RANDOMIZE, WineSession, outcome

FOREVER_WITH_CHILD = "exit=0 run_ms=-1 child=1"
TEN_MB = 10 * 1024 * 1024
# The restart delay is one second; a launch is seen in the trace at most a
# few seconds later on a loaded 2-core machine.
ONE_SECOND = (0.95, 5.0)
# A pause or a stop that finds the pause token taken waits 9970 ms for it.
TOKEN_WAIT = (9.0, 25.0)


@pytest.fixture(scope="module")
def services(service_manager, fixtures, dist):
    wine = service_manager
    made = {
        # A directory with a blank, and a program planted where an unquoted
        # worker path would find it first.
        "start": AgentService(wine, fixtures, dist, "KeldraStart", folder=["Keldra Test", "start"],
                              options=r"-c C:\conf.ini -l 3 -d Shown -u someone -o x"),
        "pause": AgentService(wine, fixtures, dist, "KeldraPause"),
        # Registered by INSTALL itself, with a blank in its name.
        "exits": AgentService(wine, fixtures, dist, "Keldra Exits"),
        "missing": AgentService(wine, fixtures, dist, "KeldraMissing"),
        "output": AgentService(wine, fixtures, dist, "KeldraOutput"),
        "kill": AgentService(wine, fixtures, dist, "KeldraKill"),
        "startstop": AgentService(wine, fixtures, dist, "KeldraStartStop"),
    }
    wine.place(fixtures / "keldraworker.exe", "Keldra.exe")
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
    """Seconds from each earlier step to the first later step after it."""
    found = []
    for step in earlier:
        following = [other.time for other in later if other.position > step.position]
        found.append(round(following[0] - step.time, 3) if following else None)
    return found


def within(values, bounds):
    return all(value is not None and bounds[0] <= value <= bounds[1] for value in values)


def test_start_up_reports_progress_then_running(services):
    service = services["start"]
    pid = agent_pid(service)
    reports = service.statuses(pid)
    running = [i for i, report in enumerate(reports) if report[0] == RUNNING]
    assert running, reports
    start_up = reports[:running[0] + 1]
    progress = len(start_up) - 2
    expected = [(2, 3, 0, 0, step, 15000 + 1000 * step) for step in range(progress + 1)]
    expected.append((RUNNING, 3, 0, 0, progress, 1000))
    assert start_up == expected


def test_worker_gets_debug_pid_and_a_quoted_path_whatever_the_options(services, wine):
    service = services["start"]
    pid = agent_pid(service)
    first = service.wait_for_records("start", 1)[0]
    assert first["cmd"] == rf'"C:\Keldra Test\start\keldraworker.exe" DEBUG --pid {pid}'
    # The process whose id the worker was given made the reports and the launch.
    assert service.statuses(pid)
    assert [step.value for step in service.steps(pid, kind="launch")] == [first["cmd"]]
    # C:\Keldra.exe, which an unquoted path would have started, never ran.
    assert not (wine.drive_c / "keldraworker.record").exists()


def test_a_name_with_a_blank_registered_by_install_starts_the_service(services):
    service = services["exits"]
    # Split into two words, the name would make the agent refuse its command
    # line and end before it reported anything.
    pid = agent_pid(service)
    assert service.statuses(pid)[-1][0] == RUNNING
    assert service.wait_for_records("start", 1)[0]["cmd"].endswith(f" DEBUG --pid {pid}")


def test_interrogate_and_user_defined_controls_change_nothing(services, wine, fixtures):
    # The service manager refuses the shutdown control from a client (error
    # 87), so it cannot be shown to reach the agent here.
    service = services["start"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    mark = wine.trace_mark()
    for code in (4, 200):
        exit_code, status, _ = service.control(code)
        assert (exit_code, status.get("state")) == (0, RUNNING), status
    # Each control has been handled when the call returns: the handler ran,
    # and reported nothing.
    assert [step.value for step in service.steps(pid, mark, "control")] == [4, 200]
    assert service.statuses(pid, mark) == []
    assert alive(wine, fixtures, worker) == {worker: True}
    assert service.events(pid, mark) == []
    assert len(service.records("start")) == 1
    assert service.query()["state"] == RUNNING


def test_stop_while_running_ends_worker_and_its_child(services, wine, fixtures):
    service = services["start"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    child = service.wait_for_records("child", 1)[-1]["pid"]
    check_point = service.statuses(pid)[-1][4]
    mark = wine.trace_mark()
    exit_code, _, _ = service.control(1)
    assert exit_code == 0
    service.wait_for_state(STOPPED)
    assert service.statuses(pid, mark) == [(STOP_PENDING, 3, 0, 0, check_point + 1, 1000),
                                           (STOPPED, 3, 0, 0, 0, 1000)]
    assert wait_until_gone(wine, fixtures, [worker, child, pid]) == {worker: False, child: False, pid: False}
    # The agent has ended: whatever it did after the stop is in the trace.
    assert service.steps(pid, mark, "launch") == []
    assert service.events(pid, mark) == []
    assert len(service.records("start")) == 1


def test_a_stop_right_after_the_start_is_followed_by_no_running_report_and_no_worker(services, wine):
    service = services["startstop"]
    agent_pid(service)
    service.control(1)  # under Wine the answer may be lost (109) once the agent has stopped and ended
    service.wait_for_state(STOPPED)
    service.started_at = wine.trace_mark()
    code, output = service.scm("startstop", service.name, 50)
    assert code == 0, output
    # Each round's agent is known by its stop (no other service stops meanwhile).
    rounds = [[]]
    for pid in {int(line[1], 16) for line in TRACE_LINE.findall(wine.trace_since(service.started_at))
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


def test_two_pauses_in_a_row_end_the_worker_and_start_none(services, wine, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    check_point = service.statuses(pid)[-1][4]
    watcher = watch_exit(wine, fixtures, worker, 60000)
    mark = wine.trace_mark()
    exit_code, status, _ = service.control(2)
    assert (exit_code, status.get("state")) == (0, PAUSED), status
    assert watcher.communicate(timeout=60)[0].decode().split() == ["exit=0"]
    # The second pause finds the token taken and waits it out: ten seconds in
    # which a worker started after the pause would show.
    exit_code, status, elapsed = service.control(2)
    assert (exit_code, status.get("state")) == (0, PAUSED), status
    assert TOKEN_WAIT[0] <= elapsed <= TOKEN_WAIT[1]
    assert service.statuses(pid, mark) == [(PAUSED, 3, 0, 0, check_point, 1000)] * 2
    assert service.events(pid, mark) == []
    assert service.steps(pid, mark, "launch") == []
    assert len(service.records("start")) == 1


def test_one_continue_resumes_and_starts_a_worker_a_second_after_the_restart_message(services, wine, fixtures):
    service = services["pause"]
    pid = service.query()["pid"]
    check_point = service.statuses(pid)[-1][4]
    mark = wine.trace_mark()
    exit_code, status, _ = service.control(3)
    assert (exit_code, status.get("state")) == (0, RUNNING), status
    launch = service.wait_for_steps(pid, "launch", 1, mark)
    worker = service.wait_for_records("start", 2)[1]["pid"]
    assert service.statuses(pid, mark) == [(RUNNING, 3, 0, 0, check_point, 1000)]
    assert service.events(pid, mark) == [RESTARTED]
    # Timed from the agent's own report and message, not from the client.
    report = service.steps(pid, mark, "status")
    message = service.steps(pid, mark, "event")
    assert within(delays(report + message, launch), ONE_SECOND), (report, message, launch)
    assert alive(wine, fixtures, worker) == {worker: True}


def test_a_continue_while_running_changes_nothing_and_a_stop_while_paused_waits_for_the_token(
        services, wine, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 2)[-1]["pid"]
    check_point = service.statuses(pid)[-1][4]
    mark = wine.trace_mark()
    exit_code, status, _ = service.control(3)
    assert (exit_code, status.get("state")) == (0, RUNNING), status
    assert service.statuses(pid, mark) == [(RUNNING, 3, 0, 0, check_point, 1000)]
    assert alive(wine, fixtures, worker) == {worker: True}

    assert service.control(2)[1].get("state") == PAUSED
    exit_code, _, elapsed = service.control(1)
    assert exit_code == 0
    assert TOKEN_WAIT[0] <= elapsed <= TOKEN_WAIT[1]
    service.wait_for_state(STOPPED)
    assert wait_until_gone(wine, fixtures, [worker, pid]) == {worker: False, pid: False}
    assert [report[0] for report in service.statuses(pid, mark)] == [RUNNING, PAUSED, STOP_PENDING, STOPPED]
    # Neither the continue nor the stop started a worker or logged a restart.
    assert service.events(pid, mark) == []
    assert service.steps(pid, mark, "launch") == []
    assert len(service.records("start")) == 2


def test_each_end_but_259_is_followed_by_one_restart_message_and_a_launch_a_second_later(
        services, wine, fixtures):
    service = services["exits"]
    pid = agent_pid(service)
    ends = service.wait_for_records("end", 3)
    assert [end["exit"] for end in ends] == [0, 7, 259]
    assert wait_until_gone(wine, fixtures, [ends[2]["pid"]]) == {ends[2]["pid"]: False}
    assert service.query()["state"] == RUNNING
    # Stopped, the agent ends: all that followed the exit code 259 is then
    # in the trace.
    assert service.control(1)[0] == 0
    service.wait_for_state(STOPPED)
    assert wait_until_gone(wine, fixtures, [pid]) == {pid: False}
    launches = service.steps(pid, kind="launch")
    messages = service.steps(pid, kind="event")
    assert len(launches) == len(service.records("start")) == 3
    assert [message.value for message in messages] == [RESTARTED, RESTARTED]
    assert within(delays(messages, launches), ONE_SECOND), (messages, launches)


def test_missing_worker_is_reported_and_retried_once_a_second(services, wine, fixtures):
    service = services["missing"]
    pid = agent_pid(service)
    not_found = probe(wine, fixtures, "errortext", 2).replace("\r", "\\r").replace("\n", "\\n")
    assert not_found
    launches = service.wait_for_steps(pid, "launch", 4)
    # Each attempt's two messages follow it before the next attempt.
    steps = [step for step in service.steps(pid) if step.kind in ("launch", "event")]
    steps = steps[:steps.index(launches[3])]
    assert [(step.kind, step.value) for step in steps] == [
        ("launch", launches[0].value), ("event", not_found), ("event", RESTARTED)] * 3
    restarts = [step for step in steps if step.value == RESTARTED]
    assert within(delays(restarts, launches), ONE_SECOND), (restarts, launches)
    assert service.query()["state"] == RUNNING


def test_a_worker_writing_ten_megabytes_runs_to_its_end(services):
    service = services["output"]
    service.wait_for_records("end", 1, timeout=90)
    assert service.records("wrote")[0]["bytes"] == TEN_MB


def test_killing_the_agent_ends_the_worker_and_its_child(services, wine, fixtures):
    service = services["kill"]
    agent_pid(service)  # running
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    child = service.wait_for_records("child", 1)[-1]["pid"]
    agent_processes = [linux_pid for linux_pid, cmdline, _ in wine.processes()
                       if cmdline.startswith(service.agent + " RUN KeldraKill")]
    assert len(agent_processes) == 1
    os.kill(agent_processes[0], signal.SIGKILL)
    assert wait_until_gone(wine, fixtures, [worker, child]) == {worker: False, child: False}


def test_run_from_a_console_ends_quietly(wine, dist):
    # Under Wine, unlike Windows, the console agent waits up to 10 s for the
    # control pipe of the last service started, and takes over a start that
    # is under way: it must find none.
    wine.settle()
    result = wine.run(dist / "keldraagent.exe", "RUN", "KeldraConsole", "-c", "x", "-t", "5", "-r", "1",
                      "-l", "NOISY")
    assert (result.returncode, result.stdout) == (0, b""), outcome(result)


def test_the_session_wineserver_survives_handle_table_reads_and_its_death_leaves_no_process(fixtures, dist):
    # Wine 8's stock server crashed when the system's handle table was read
    # (as the test worker and processprobe do) while a program started from
    # Linux had no handle yet; the sessions run a server with that mended
    # (scripts/build-wineserver). And once a session's wineserver is gone,
    # `wineserver -k` reaches none of its processes: the teardown must find
    # and end them itself.
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
