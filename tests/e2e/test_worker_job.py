"""How the agent creates its worker: inside the worker's job from the start,
with the output pipe as the one handle it inherits and no standard input;
and how the process ends after a stop that finds the supervision thread
held up."""

import pytest

from agent_service import (PAUSED, REPORTS, RESTARTED, RUNNING, STOP_PENDING, STOPPED, AgentService, alive,
                           serve, wait_until_gone, watch_exit)
from wine_session import wine_only


@pytest.fixture(scope="module")
def services(service_manager, host, fixtures, dist):
    made = {
        "born": AgentService(host, fixtures, dist, "KeldraBorn"),
        "child": AgentService(host, fixtures, dist, "KeldraChildAtOnce"),
        "held": AgentService(host, fixtures, dist, "KeldraHeldUp"),
        "squatted": AgentService(host, fixtures, dist, "KeldraSquatted"),
    }
    made["squatted"].place_worker("exit=0 run_ms=-1")
    made["born"].place_worker("exit=0 run_ms=-1")
    made["child"].place_worker("exit=0 run_ms=-1 child=1")
    made["held"].place_worker("exit=0 run_ms=-1 child=1")
    yield from serve(made)


def test_worker_starts_in_its_job_with_only_its_output_pipe_and_no_input(services):
    service = services["born"]
    service.wait_for_state(RUNNING)
    given = service.wait_for_records("inherit", 1)[0]
    started = service.wait_for_records("start", 1)[0]
    assert given["pid"] == started["pid"]
    # handles: every inheritable handle it holds, but for one on its current
    # directory that Windows may open itself and that the agent does not
    # hold; pipe: its standard output (and error) is one of them, and a pipe,
    # whose access list has two entries (SYSTEM and the agent's account),
    # none for Everyone.
    assert {key: given[key] for key in ("injob", "stdin", "handles", "pipe", "pipeacl", "pipeeveryone")} == \
        {"injob": 1, "stdin": 0, "handles": 1, "pipe": 1, "pipeacl": 2, "pipeeveryone": 0}, given


def test_a_child_started_at_once_is_ended_by_a_pause(services, host, fixtures):
    service = services["child"]
    service.wait_for_state(RUNNING)
    worker = service.wait_for_records("start", 1)[0]["pid"]
    child = service.wait_for_records("child", 1)[0]["pid"]
    assert service.records("inherit")[0]["injob"] == 1
    exit_code, status, _ = service.control(2)
    assert (exit_code, status.get("state")) == (0, PAUSED), status
    assert wait_until_gone(host, fixtures, [worker, child]) == {worker: False, child: False}
    # The next worker, after a continue, is born in a job of its own too.
    exit_code, status, _ = service.control(3)
    assert (exit_code, status.get("state")) == (0, RUNNING), status
    given = service.wait_for_records("inherit", 2)[1]
    assert (given["injob"], given["handles"], given["pipe"]) == (1, 1, 1), given
    second_child = service.wait_for_records("child", 2)[1]["pid"]
    assert alive(host, fixtures, second_child) == {second_child: True}


def test_a_stop_that_finds_the_supervision_thread_held_up_still_ends_everything(services, host, fixtures):
    service = services["held"]
    pid = service.wait_for_state(RUNNING)["pid"]
    worker = service.wait_for_records("start", 1)[0]["pid"]
    child = service.wait_for_records("child", 1)[0]["pid"]
    # The supervision thread stops where it is, as in a launch that never
    # comes back: the stop's wait for it runs out.
    held = host.run(fixtures / "processprobe.exe", "suspend", pid, "keldra supervision")
    assert (held.returncode, held.stdout.split()) == (0, [b"suspended"]), (held.returncode, held.stdout, held.stderr)
    watcher = watch_exit(host, fixtures, pid)
    mark = host.mark()
    exit_code, _, elapsed = service.control(1)
    assert exit_code == 0
    assert 4.5 <= elapsed <= 30.0, elapsed
    service.wait_for_state(STOPPED)
    assert not wine_only(host, REPORTS) or [report[0] for report in service.statuses(pid, mark)] == [STOP_PENDING,
                                                                                                   STOPPED]
    # The process ends, with exit code 0, and nothing of the service
    # outlives it.
    output, errors = watcher.communicate(timeout=60)
    assert output.decode().split() == ["exit=0"], (output, errors[-2000:])
    assert wait_until_gone(host, fixtures, [worker, child, pid]) == {worker: False, child: False, pid: False}
    assert not service.events_shown() or RESTARTED not in service.events(pid, mark)
    assert len(service.records("start")) == 1


def test_pipes_held_under_names_made_from_the_agents_pid_keep_no_worker_from_starting(services, host, fixtures):
    service = services["squatted"]
    pid = service.wait_for_state(RUNNING)["pid"]
    service.wait_for_records("start", 1)
    holder = host.spawn(fixtures / "processprobe.exe", "holdpipes", rf"\\.\pipe\keldra-worker-output-{pid}-", 2001,
                        600000)
    try:
        assert holder.stdout.readline().strip() == b"holding"
        for control, state in ((2, PAUSED), (3, RUNNING)):
            exit_code, status, _ = service.control(control)
            assert (exit_code, status.get("state")) == (0, state), status
        service.wait_for_records("start", 2)
    finally:
        holder.kill()
        holder.wait()
