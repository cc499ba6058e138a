# INSTALL registers the agent as a service, with an event source of the same
# name; REMOVE takes both away again. Sourced by scripts/demo-steps.
services='HKLM\System\CurrentControlSet\Services'
sources="$services\\EventLog\\Application"

show 'KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=... keldraagent.exe INSTALL demo -d "Keldra Demo" -u demouser'
KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=demo-password wine "$agent" INSTALL demo -d "Keldra Demo" -u demouser
exit_code $?

show "reg query $services\\demo"
wine reg query "$services\\demo" 2>&1

show "reg query $sources\\demo"
wine reg query "$sources\\demo" 2>&1

show 'KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=... keldraagent.exe INSTALL demo   (once more)'
KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=demo-password wine "$agent" INSTALL demo
exit_code $?

show 'keldraagent.exe INSTALL other   (no password in the environment)'
env -u KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD wine "$agent" INSTALL other
exit_code $?

show keldraagent.exe REMOVE demo
wine "$agent" REMOVE demo
exit_code $?

show "reg query $services\\demo"
wine reg query "$services\\demo" 2>&1

show "reg query $sources\\demo"
wine reg query "$sources\\demo" 2>&1

show 'keldraagent.exe REMOVE demo   (once more: nothing left)'
wine "$agent" REMOVE demo
exit_code $?
