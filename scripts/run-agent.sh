#!/bin/sh
# The agent's main job: the real agent, installed as a service on a Linux
# machine of its own (build/demo-machine), reporting to the reference server.
#   - the reference server plays the Korvex Foundation service with the
#     realistic definitions of data/definitions/;
#   - kxreg sets the policy (enable switch, server, port) in the machine's
#     registry;
#   - a Samba domain controller plays the domain of the recorded logs
#     (offsec.lan, tools/sambadc/sambadc.py, its template kept in the build
#     tree), and kxreg names it as the directory of the machine, workstation
#     WKS01 of that domain; the agent asks it for account names, ParentOU
#     values and the objects the records name (without Samba the job goes
#     on and says so);
#   - the project's own message file for the Security events is registered
#     as an installer would;
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
# The domain's template is kept in the build tree (the tests use the same one).
template=$build/samba-template-recorded
dc_ready=true
[ -e "$template/provisioned-at" ] ||
    echo "Provisioning the domain offsec.lan into $template (once per build tree, about 20 s)"
python3 tools/sambadc/sambadc.py --profile recorded provision --template "$template" \
    2>"$build/samba-provision.log" || dc_ready=false
demo=$PWD/build/demo-machine
definitions=$PWD/data/definitions/KXEventDefinitions.xml
started=$(date +%s)
rm -rf "$demo"
mkdir -p "$demo/agent"
export KX_MACHINE_ROOT="$demo/root"
# The machine is a workstation of the recorded logs' domain.
export KX_COMPUTER_NAME=WKS01 KX_DNS_DOMAIN=offsec.lan
kxreg=$build/tools/kxreg/kxreg
kxeventlog=$build/tools/kxeventlog/kxeventlog
agent=$demo/agent/KXWkstnSvc

say() { printf '\n== %s\n' "$*"; }

say "Reference server"
python3 tools/refserver/refserver.py start --state-dir "$demo/server" --port 0 \
    --definitions "$definitions" --ed-version 1 >/dev/null
dc=$demo/dc
cleanup() {
    "$agent" -uninstall -silent 2>/dev/null || true
    python3 tools/refserver/refserver.py stop --state-dir "$demo/server" >/dev/null 2>&1 || true
    python3 tools/sambadc/sambadc.py stop --state-dir "$dc" >/dev/null 2>&1 || true
}
trap cleanup EXIT
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["service"].split(":")[1])' \
    "$demo/server/address.json")
echo "listening on 127.0.0.1:$port, storing into $demo/server/refserver.sqlite"

say "Policy"
"$kxreg" policy /enable /server 127.0.0.1 /port "$port"

say "The domain controller of offsec.lan"
# Samba's LDAP port is fixed: another server on it is not this domain.
if python3 -c 'import socket; socket.create_connection(("127.0.0.1", 389), 1)' 2>/dev/null; then
    echo "another server answers on 127.0.0.1:389" >"$demo/dc.log"
    dc_ready=false
fi
if $dc_ready && python3 tools/sambadc/sambadc.py --profile recorded start --template "$template" \
    --state-dir "$dc" 2>>"$demo/dc.log"; then
    fact() { sed -n "s/^$1=//p" "$dc/facts.txt"; }
    # The directory settings of the machine's own name, as an operator sets them.
    servers="HKLM\\SOFTWARE\\Brenwick Corporation\\Korvex\\Directory\\Servers\\$KX_COMPUTER_NAME"
    "$kxreg" add "$servers" /v Uri /t REG_SZ /d "$(fact uri)" /f >/dev/null
    "$kxreg" add "$servers" /v Authentication /t REG_SZ /d Simple /f >/dev/null
    "$kxreg" add "$servers" /v User /t REG_SZ /d "$(fact user)" /f >/dev/null
    "$kxreg" add "$servers" /v PasswordFile /t REG_SZ /d "$(fact passwordFile)" /f >/dev/null
    echo "Samba answers on $(fact uri) for $KX_COMPUTER_NAME (simple bind as $(fact user))"
else
    dc_ready=false
    reason=$(cat "$build/samba-provision.log" "$demo/dc.log" 2>/dev/null | grep . | tail -n 1)
    echo "Samba did not start (${reason:-see $demo/dc.log}): the table shows SIDs and no" \
         "ParentOU values where the domain would give them."
fi

say "The message texts of the Security events"
scripts/register-security-messages.sh "$KX_MACHINE_ROOT" \
    "$build/data/messages/KXSecurityMessages.dll"

say "The recorded Security logs, lined up in the last hours"
now=$(date +%s)
created=tests/data/evtx/ds_object_created_5137.evtx
set --
for file in tests/data/evtx/*.evtx; do
    [ "$file" = "$created" ] || set -- "$@" "$file"
done
index=$#
for file in "$@"; do
    # One recording every ten minutes, the last one ending now.
    "$kxeventlog" import --end-at $((now - (index - 1) * 600)) "$file"
    index=$((index - 1))
done
# The 5137 record names JUMP01 of the domain: it goes to the second in which
# the directory created that object, where the agent's search finds it.
jump01=$now
if $dc_ready; then
    jump01=$(date -u -d "$(fact jump01.created | sed 's/\(....\)\(..\)\(..\)\(..\)\(..\)/\1-\2-\3 \4:\5:/')" +%s)
fi
"$kxeventlog" import --end-at "$jump01" "$created"
set -- "$@" "$created"
"$build/tools/kxpreview/kxpreview" --definitions "$definitions" --evtx "$@" >"$demo/preview.txt"
recorded=$(sed -n 's/.* records read, \([0-9]*\) alerts:$/\1/p' "$demo/preview.txt")
echo "kxpreview (the offline check): the recorded records make $recorded alerts;" \
     "its table is in $demo/preview.txt"

say "The service"
cp "$build/src/service/KXWkstnSvc" "$build/src/service/KXWkstnSvc.dll" "$demo/agent/"
"$agent" -install
"$agent" -start

say "Live events of the domain, written while the agent delivers"
write() {
    "$kxeventlog" write --source Microsoft-Windows-Security-Auditing --type 8 --id "$@" |
        sed -n "s/^Wrote record \([0-9]*\) .*/\1/p"
}
# The user is really created in the domain's directory, and deleted again
# before its 4726 is written, as the domain controller does it: only once the
# agent has built the alerts of the first two, which it shows by keeping the
# number of the second (WSLastEventLogRecordNumber).
kept() {
    number=$("$kxreg" policy | sed -n 's/^WSLastEventLogRecordNumber *\([0-9]*\).*/\1/p')
    echo "${number:-0}"
}
sid=S-1-5-21-4230534742-2542757381-3142984815-4242
if $dc_ready && made=$(python3 scripts/demo_domain.py add-user demo.contractor); then sid=$made; fi
target="demo.contractor OFFSEC $sid"
actor="S-1-5-21-4230534742-2542757381-3142984815-1111 admmig OFFSEC 0x14f509e2"
# shellcheck disable=SC2086
write 4720 -- $target $actor - demo.contractor "Demo Contractor" demo.contractor@offsec.lan >/dev/null
# shellcheck disable=SC2086
enabled=$(write 4722 -- $target $actor)
echo "4720 and 4722 of demo.contractor written; waiting until the agent keeps record $enabled"
deadline=$(($(date +%s) + 90))
until [ "$(kept)" -ge "$enabled" ] || [ "$(date +%s)" -gt "$deadline" ]; do sleep 1; done
if $dc_ready && python3 scripts/demo_domain.py delete-user demo.contractor; then
    echo "demo.contractor deleted from the directory"
fi
# shellcheck disable=SC2086
write 4726 -- $target $actor - >/dev/null
echo "4726 of demo.contractor written"

say "Waiting for the alerts of the recorded records and the live events"
python3 scripts/demo_alerts.py wait --state-dir "$demo/server" --count $((recorded + 3)) \
    --seconds 90

say "The alerts the server holds"
python3 scripts/demo_alerts.py show --state-dir "$demo/server" --documents-dir "$demo/documents"

say "Stopping and removing the service"
"$agent" -stop
"$agent" -uninstall
python3 tools/sambadc/sambadc.py stop --state-dir "$dc" >/dev/null 2>&1 || true
echo "The agent's diagnostic log: $demo/agent/BWAgentSvc.log;" \
     "its definitions copy: $demo/agent/KXEventDefinitions.xml"
echo "Main job done in $(($(date +%s) - started)) s after the build."
