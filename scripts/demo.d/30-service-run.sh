# The service at work: keldraagent RUN supervising a worker, with pause,
# continue and stop. Sourced by scripts/demo-steps.
fixtures=${KELDRA_BUILD_ROOT:-build}/windows/tests/fixtures
scm() { wine "$fixtures/scmclient.exe" "$@"; }
# This prefix's agent and worker processes, with their command lines.
keldra_processes() {
  local p found=0
  for p in $(pgrep -f 'keldra(agent|worker)\.exe' || true); do
    tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    tr '\0' ' ' < "/proc/$p/cmdline" | sed 's/ *$//'; echo
    found=1
  done
  [ $found = 1 ] || echo '(none)'
}
worker_record() { sed 's/^/  /' "$drive_c/Keldra/keldraworker.record" 2>/dev/null; }

# wineboot -i leaves two services.exe in a new prefix, each with a service
# database of its own, and Wine gives a control handler 10 s where Windows
# gives 30 (a stop while paused takes about ten). Windows' limit, then one
# fresh service manager.
wine reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_DWORD /d 30000 /f >/dev/null 2>&1
for p in $(pgrep -f 'services\.exe' || true); do
  tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && kill -9 "$p"
done
sleep 1
wineboot >/dev/null 2>&1

# A stand-in worker: the first one runs three seconds and ends, the next
# ones run until they are ended. It records each launch and its arguments.
cp "$fixtures/keldraworker.exe" "$drive_c/Keldra/"
printf 'exit=0 run_ms=3000\nexit=0 run_ms=-1\n' > "$drive_c/Keldra/keldraworker.behaviour"

show "register the service KeldraDemo (command line: $agent RUN KeldraDemo)"
scm create KeldraDemo "$agent RUN KeldraDemo"; exit_code $?

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

show "delete the service"
scm delete KeldraDemo; exit_code $?
