#!/bin/sh
# The agent's main job: the real agent, installed as a service on a Linux
# machine of its own (build/demo-machine), reporting to the reference server.
#   - the reference server plays the Korvex Foundation service with the
#     realistic definitions of data/definitions/;
#   - kxreg sets the policy (enable switch, server, port) in the machine's
#     registry, and the project's own message file for the Security events
#     is registered as an installer would;
#   - the recorded Windows Security logs of tests/data/evtx are imported into
#     the machine's Security log, lined up one after the other in the last
#     hours, and kxpreview (the offline check) says which alerts they make;
#   - KXWkstnSvc installs itself as a service and starts; kxeventlog writes a
#     few live events while it runs;
#   - once the server holds every alert, they are printed as a table and the
#     alert documents are saved; the service is stopped and removed.
set -eu
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset linux >/dev/null
cmake --build --preset linux --target KXWkstnSvc KXWkstnSvc_messages KXSecurityMessages kxreg kxeventlog \
    kxpreview

build=$PWD/build/linux
demo=$PWD/build/demo-machine
definitions=$PWD/data/definitions/KXEventDefinitions.xml
started=$(date +%s)
rm -rf "$demo"
mkdir -p "$demo/agent"
export KX_MACHINE_ROOT="$demo/root"
kxreg=$build/tools/kxreg/kxreg
kxeventlog=$build/tools/kxeventlog/kxeventlog
agent=$demo/agent/KXWkstnSvc

say() { printf '\n== %s\n' "$*"; }

say "Reference server"
python3 tools/refserver/refserver.py start --state-dir "$demo/server" --port 0 \
    --definitions "$definitions" --ed-version 1 >/dev/null
cleanup() {
    "$agent" -uninstall -silent 2>/dev/null || true
    python3 tools/refserver/refserver.py stop --state-dir "$demo/server" >/dev/null 2>&1 || true
}
trap cleanup EXIT
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["service"].split(":")[1])' \
    "$demo/server/address.json")
echo "listening on 127.0.0.1:$port, storing into $demo/server/refserver.sqlite"

say "Policy"
"$kxreg" policy /enable /server 127.0.0.1 /port "$port"

say "The message texts of the Security events"
scripts/register-security-messages.sh "$KX_MACHINE_ROOT" \
    "$build/data/messages/KXSecurityMessages.dll"

say "The recorded Security logs, lined up in the last hours"
now=$(date +%s)
set -- tests/data/evtx/*.evtx
index=$#
for file in "$@"; do
    # One recording every ten minutes, the last one ending now.
    "$kxeventlog" import --end-at $((now - (index - 1) * 600)) "$file"
    index=$((index - 1))
done
"$build/tools/kxpreview/kxpreview" --definitions "$definitions" --evtx "$@" >"$demo/preview.txt"
recorded=$(sed -n 's/.* records read, \([0-9]*\) alerts:$/\1/p' "$demo/preview.txt")
echo "kxpreview (the offline check): the recorded records make $recorded alerts;" \
     "its table is in $demo/preview.txt"

say "The service"
cp "$build/src/service/KXWkstnSvc" "$build/src/service/KXWkstnSvc.dll" "$demo/agent/"
"$agent" -install
"$agent" -start

say "Waiting for the alerts of the recorded records"
python3 scripts/demo_alerts.py wait --state-dir "$demo/server" --count "$recorded" --seconds 90

say "Live events, written while the agent runs"
write() {
    "$kxeventlog" write --source Microsoft-Windows-Security-Auditing --type 8 --id "$@"
}
target="demo.contractor CORP S-1-5-21-1004336348-1177238915-682003330-4242"
actor="S-1-5-21-1004336348-1177238915-682003330-500 Administrator CORP 0x3e7"
# shellcheck disable=SC2086
write 4720 -- $target $actor - demo.contractor - demo.contractor
# shellcheck disable=SC2086
write 4722 -- $target $actor
# shellcheck disable=SC2086
write 4726 -- $target $actor -
python3 scripts/demo_alerts.py wait --state-dir "$demo/server" --count $((recorded + 3)) \
    --seconds 90

say "The alerts the server holds"
python3 scripts/demo_alerts.py show --state-dir "$demo/server" --documents-dir "$demo/documents"

say "Stopping and removing the service"
"$agent" -stop
"$agent" -uninstall
echo "The agent's diagnostic log: $demo/agent/BWAgentSvc.log;" \
     "its definitions copy: $demo/agent/KXEventDefinitions.xml"
echo "Main job done in $(($(date +%s) - started)) s after the build."
