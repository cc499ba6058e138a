# INSTALL registers the agent as a service, with an event source of the same
# name; REMOVE takes both away again. Sourced by scripts/demo-steps.
services='HKLM\System\CurrentControlSet\Services'
sources="$services\\EventLog\\Application"

show 'KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=... keldraagent.exe INSTALL demo -d "Keldra Demo" -u demouser'
KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=demo-password agent_run 'INSTALL demo -d "Keldra Demo" -u demouser'

show "reg query $services\\demo"
wine reg query "$services\\demo" 2>&1

show "reg query $sources\\demo"
wine reg query "$sources\\demo" 2>&1

show 'KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=... keldraagent.exe INSTALL demo   (once more: 1073, already installed)'
KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD=demo-password agent_run 'INSTALL demo'

show 'keldraagent.exe INSTALL other   (no password in the environment)'
(unset KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD; agent_run 'INSTALL other')

show keldraagent.exe REMOVE demo
agent_run 'REMOVE demo'

show "reg query $services\\demo"
wine reg query "$services\\demo" 2>&1

show "reg query $sources\\demo"
wine reg query "$sources\\demo" 2>&1

show 'keldraagent.exe REMOVE demo   (once more: nothing left, 1060)'
agent_run 'REMOVE demo'
