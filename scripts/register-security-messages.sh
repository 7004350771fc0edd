#!/bin/sh
# Registers the project's own Security message file on a Linux machine root,
# as an installer would: the publisher keys of "Microsoft-Windows-Security-Auditing"
# and "Microsoft-Windows-Eventlog" (which writes 1102) name it as their message
# file and parameter file, so that kxpreview, kxeventlog list and the agent show
# the readable texts of the recorded Security events.
#
#   scripts/register-security-messages.sh MACHINE_ROOT DLL_PATH
#
# DLL_PATH is the built file, e.g. build/linux/data/messages/KXSecurityMessages.dll;
# it is registered as an absolute path. KXREG names the kxreg to use (default:
# build/linux/tools/kxreg/kxreg of this checkout).
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 MACHINE_ROOT DLL_PATH" >&2
    exit 2
fi
root=$1
dll=$(realpath "$2")
[ -f "$dll" ] || { echo "$0: no message file at $2" >&2; exit 1; }
repo=$(cd "$(dirname "$0")/.." && pwd)
kxreg=${KXREG:-$repo/build/linux/tools/kxreg/kxreg}

publishers='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\WINEVT\Publishers'
# A .reg string: backslashes and quotes escaped.
file=$(printf '%s' "$dll" | sed 's/\\/\\\\/g; s/"/\\"/g')
reg=$(mktemp "${TMPDIR:-/tmp}/register-security-messages.XXXXXX.reg")
trap 'rm -f "$reg"' EXIT
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for entry in '{54849625-5478-4994-A5BA-3E3B0328C30D}=Microsoft-Windows-Security-Auditing' \
                 '{FC65DDD8-D6EF-4962-83D5-6E5CFE9CE148}=Microsoft-Windows-Eventlog'; do
        printf '[%s\\%s]\r\n' "$publishers" "${entry%%=*}"
        printf '@="%s"\r\n' "${entry#*=}"
        printf '"MessageFileName"="%s"\r\n' "$file"
        printf '"ParameterFileName"="%s"\r\n\r\n' "$file"
    done
} >"$reg"
KX_MACHINE_ROOT=$root "$kxreg" import "$reg"
