# The service at work: keldraagent RUN supervising a worker, with pause,
# continue and stop. Sourced by scripts/demo-steps.
scm() { wine "$fixtures/scmclient.exe" "$@"; }
# This prefix's agent and worker processes, with their command lines.
keldra_processes() {
  local p found=0
  for p in $(pgrep -f 'keldra(agent|worker)\.exe' || true); do
    # A process may end between pgrep and here: the shell's own message for
    # a redirection that fails goes where the braces send it.
    { tr '\0' '\n' < "/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    line=$({ tr '\0' ' ' < "/proc/$p/cmdline"; } 2>/dev/null | sed 's/ *$//')
    [ -n "$line" ] || continue
    echo "$line"
    found=1
  done
  [ $found = 1 ] || echo '(none)'
}
worker_record() { sed 's/^/  /' "$drive_c/Keldra/keldraworker.record" 2>/dev/null; }

# A stand-in worker: the first one runs three seconds and ends, the next
# ones run until they are ended. It records each launch and its arguments.
cp "$fixtures/keldraworker.exe" "$drive_c/Keldra/"
printf 'exit=0 run_ms=3000\nexit=0 run_ms=-1\n' > "$drive_c/Keldra/keldraworker.behaviour"

show "KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=... keldraagent.exe INSTALL KeldraDemo"
KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=demo-secret wine "$agent" INSTALL KeldraDemo; exit_code $?

show "start it; the service reports running once the worker is launched"
scm start KeldraDemo >/dev/null
scm wait KeldraDemo 4 20000; exit_code $?
sleep 1
show "the agent and its worker, with the worker's arguments"
keldra_processes

show "the first worker ends after three seconds; one second later the next one runs"
sleep 4
worker_record

show "pause: the worker is ended and none is started while paused"
scm control KeldraDemo 2
sleep 2
keldra_processes

show "continue: a new worker follows one second later"
scm control KeldraDemo 3
sleep 2
keldra_processes

show "stop: reported stopped, with the worker gone"
scm control KeldraDemo 1
sleep 2
keldra_processes

show "keldraagent.exe REMOVE KeldraDemo"
wine "$agent" REMOVE KeldraDemo; exit_code $?
scm query KeldraDemo >/dev/null 2>&1 || echo "(the service is gone)"
