#!/bin/sh
# The agent's main job on this machine, as far as the agent exists today.
#
# The service executable itself (service control, the event pipeline, alert
# cache files and posting) is not built yet. What runs is every piece that
# exists, end to end on a machine of its own under build/demo-machine:
#   - the reference server plays the Korvex Foundation service, serving the
#     realistic definitions document of data/definitions/;
#   - kxreg sets the policy (enable switch, server, port) in the machine's
#     registry;
#   - kxeventlog imports the recorded Windows Security logs of tests/data/evtx
#     into the machine's Security log, moved in time to end now;
#   - kxpreview refreshes the definitions from the server (saving the local
#     copy), reads the Security log with the collector from the last 14 days
#     and prints every record that a definition's event code selects, with
#     its expanded insertion strings, the first line of its message text and
#     the alert item that the selecting definition builds
#     (the "description cannot be found" text here: no Windows message files
#     are registered on this machine).
set -eu
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target kxpreview kxreg kxeventlog

tools=build/linux/tools
machine=$PWD/build/demo-machine
rm -rf "$machine"
mkdir -p "$machine"
export KX_MACHINE_ROOT="$machine/root"

python3 tools/refserver/refserver.py start --state-dir "$machine/server" --port 0 \
    --definitions data/definitions/KXEventDefinitions.xml --ed-version 1 >/dev/null
trap 'python3 tools/refserver/refserver.py stop --state-dir "$machine/server" >/dev/null 2>&1' EXIT
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["service"].split(":")[1])' \
    "$machine/server/address.json")

"$tools/kxreg/kxreg" policy /enable /server 127.0.0.1 /port "$port"
"$tools/kxeventlog/kxeventlog" import --shift-to-now tests/data/evtx/*.evtx
"$tools/kxeventlog/kxeventlog" info
"$tools/kxpreview/kxpreview" --seconds 120 --from-oldest
echo "Diagnostic log: $tools/kxpreview/BWAgentSvc.log (if any line was written);" \
     "definitions copy: $tools/kxpreview/KXEventDefinitions.xml"
