"""keldraagent RUN under Wine's Service Control Manager: the status reports,
the event-log messages and the worker's life, checked in order.

Several services run at once, one per concern, so that their waits overlap."""
import os
import select
import signal
import subprocess
import time

import pytest

from agent_service import (PAUSED, RESTARTED, RUNNING, STOP_PENDING, STOPPED, AgentService, alive,
                           restart_service_manager, probe, wait_until_gone, wine_processes)

FOREVER_WITH_CHILD = "exit=0 run_ms=-1 child=1"
TEN_MB = 10 * 1024 * 1024


@pytest.fixture(scope="module")
def services(wine, fixtures, dist):
    restart_service_manager(wine)
    made = {
        # A directory with a blank, and a program planted where an unquoted
        # worker path would find it first.
        "start": AgentService(wine, fixtures, dist, "KeldraStart", folder=["Keldra Test", "start"],
                              options=r"-c C:\conf.ini -l 3 -d Shown -u someone -o x"),
        "pause": AgentService(wine, fixtures, dist, "KeldraPause"),
        "exits": AgentService(wine, fixtures, dist, "KeldraExits"),
        "missing": AgentService(wine, fixtures, dist, "KeldraMissing"),
        "output": AgentService(wine, fixtures, dist, "KeldraOutput"),
        "kill": AgentService(wine, fixtures, dist, "KeldraKill"),
    }
    wine.place(fixtures / "keldraworker.exe", "Keldra.exe")
    made["start"].place_worker(FOREVER_WITH_CHILD)
    made["pause"].place_worker("exit=0 run_ms=-1")
    made["exits"].place_worker("exit=0 run_ms=300", "exit=7 run_ms=300", "exit=259 run_ms=300")
    made["output"].place_worker(f"exit=259 run_ms=0 write={TEN_MB}")
    made["kill"].place_worker(FOREVER_WITH_CHILD)
    for service in made.values():
        service.create()
    for service in made.values():
        service.start()
    yield made
    for service in made.values():
        if service.query().get("state") not in (STOPPED, None):
            service.control(1)
        service.delete()


def agent_pid(service):
    return service.wait_for_state(RUNNING)["pid"]


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
    # The reports come from the process whose id the worker was given.
    assert service.statuses(pid)
    # C:\Keldra.exe, which an unquoted path would have started, never ran.
    assert not (wine.drive_c / "keldraworker.record").exists()


def test_interrogate_shutdown_and_other_codes_are_ignored(services, wine, fixtures):
    service = services["start"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    mark = wine.trace_mark()
    for code in (4, 5, 200):
        service.control(code)
    time.sleep(1.5)
    assert service.statuses(pid, mark) == []
    assert service.events(pid, mark) == []
    assert alive(wine, fixtures, worker) == {worker: True}
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
    time.sleep(2.5)
    assert len(service.records("start")) == 1
    assert RESTARTED not in service.events(pid, mark)


def test_pause_ends_the_worker_and_continue_restarts_it_a_second_later(services, wine, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    check_point = service.statuses(pid)[-1][4]
    watcher = subprocess.Popen(["wine", str(fixtures / "processprobe.exe"), "wait", str(worker), "60000"],
                               env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    # The watcher must hold the worker's handle before the pause; on a loaded
    # machine starting it can take seconds.
    ready, _, _ = select.select([watcher.stdout], [], [], 60)
    first = watcher.stdout.readline().decode().split() if ready else []
    if first != ["waiting"]:
        watcher.kill()
        raise AssertionError(f"watcher not ready: {first} {watcher.communicate()[1][-2000:]!r}")
    mark = wine.trace_mark()
    exit_code, status, _ = service.control(2)
    assert (exit_code, status["state"]) == (0, PAUSED)
    assert watcher.communicate(timeout=60)[0].decode().split() == ["exit=0"]
    time.sleep(3)
    assert service.statuses(pid, mark) == [(PAUSED, 3, 0, 0, check_point, 1000)]
    assert service.events(pid, mark) == []
    assert len(service.records("start")) == 1

    mark = wine.trace_mark()
    before = time.time()
    exit_code, status, _ = service.control(3)
    assert (exit_code, status["state"]) == (0, RUNNING)
    second = service.wait_for_records("start", 2)[1]
    assert 0.9 <= second["ms"] / 1000 - before <= 5.0
    assert service.statuses(pid, mark) == [(RUNNING, 3, 0, 0, check_point, 1000)]
    assert service.events(pid, mark) == [RESTARTED]


def test_two_pauses_need_one_continue_and_a_stop_while_paused_waits_for_the_token(services, wine, fixtures):
    service = services["pause"]
    pid = agent_pid(service)
    launches = len(service.wait_for_records("start", 1))
    assert service.control(2)[1]["state"] == PAUSED
    # The second pause finds the token taken and waits it out.
    exit_code, status, elapsed = service.control(2)
    assert (exit_code, status["state"]) == (0, PAUSED)
    assert 9.0 <= elapsed <= 25.0
    assert len(service.records("start")) == launches

    exit_code, status, _ = service.control(3)
    assert (exit_code, status["state"]) == (0, RUNNING)
    worker = service.wait_for_records("start", launches + 1)[-1]["pid"]
    assert alive(wine, fixtures, worker) == {worker: True}

    assert service.control(2)[1]["state"] == PAUSED
    mark = wine.trace_mark()
    exit_code, _, elapsed = service.control(1)
    assert exit_code == 0
    assert 9.0 <= elapsed <= 25.0
    service.wait_for_state(STOPPED)
    assert [report[0] for report in service.statuses(pid, mark)] == [STOP_PENDING, STOPPED]
    assert service.events(pid, mark) == []
    assert wait_until_gone(wine, fixtures, [worker, pid]) == {worker: False, pid: False}


def test_each_end_but_259_is_followed_by_one_restart_message_and_a_launch_a_second_later(services):
    service = services["exits"]
    pid = agent_pid(service)
    ends = service.wait_for_records("end", 3)
    time.sleep(3)  # nothing follows the exit code 259
    starts = service.records("start")
    assert [end["exit"] for end in ends] == [0, 7, 259]
    assert len(starts) == 3
    assert service.events(pid) == [RESTARTED, RESTARTED]
    for ended, started in zip(ends, starts[1:]):
        assert 0.9 <= (started["ms"] - ended["ms"]) / 1000 <= 5.0
    assert service.query()["state"] == RUNNING


def test_missing_worker_is_reported_and_retried_once_a_second(services, wine, fixtures):
    service = services["missing"]
    pid = agent_pid(service)
    not_found = probe(wine, fixtures, "errortext", 2).replace("\r", "\\r").replace("\n", "\\n")
    assert not_found
    mark = wine.trace_mark()
    time.sleep(6)
    events = service.events(pid, mark)
    # The window may cut a pair in two.
    if events and events[0] == RESTARTED:
        events = events[1:]
    if len(events) % 2:
        events = events[:-1]
    assert 3 <= len(events) // 2 <= 8, events
    assert events == [not_found, RESTARTED] * (len(events) // 2)
    assert service.query()["state"] == RUNNING


def test_a_worker_writing_ten_megabytes_runs_to_its_end(services):
    service = services["output"]
    service.wait_for_records("end", 1, timeout=90)
    assert service.records("wrote")[0]["bytes"] == TEN_MB


def test_killing_the_agent_ends_the_worker_and_its_child(services, wine, fixtures):
    service = services["kill"]
    pid = agent_pid(service)
    worker = service.wait_for_records("start", 1)[-1]["pid"]
    child = service.wait_for_records("child", 1)[-1]["pid"]
    agent_processes = [linux_pid for linux_pid, cmdline in wine_processes(wine)
                       if cmdline.startswith(service.agent + " RUN KeldraKill")]
    assert len(agent_processes) == 1
    os.kill(agent_processes[0], signal.SIGKILL)
    assert wait_until_gone(wine, fixtures, [worker, child]) == {worker: False, child: False}


def test_run_from_a_console_ends_quietly(wine, dist):
    result = wine.run(dist / "keldraagent.exe", "RUN", "KeldraConsole", "-c", "x")
    assert (result.returncode, result.stdout) == (0, b"")
