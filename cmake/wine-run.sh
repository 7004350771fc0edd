#!/bin/sh
# Runs a Windows program under Wine with a prefix of the build's own.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made on first use, under a lock, in the order that avoids
# a second services.exe meeting the init session.
set -u
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.kx-ready" ]; then
        rm -rf "$prefix"
        wineboot -i >/dev/null 2>&1 9>&-
        wineserver -w 9>&-
        wineserver -p60 </dev/null >/dev/null 2>&1 9>&-
        wine wineboot >/dev/null 2>&1 9>&-
        wine winecfg /v win10 >/dev/null 2>&1 9>&-
        touch "$prefix/.kx-ready"
    fi
    # A persistent server keeps every run from waiting for the server to exit;
    # it ends by itself a minute after the last program. When this call
    # started it, the session's own processes are started here too, with no
    # inherited output: they live as long as the server, and a caller that
    # reads the program's output (ctest) would otherwise wait for them.
    if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
        wine wineboot </dev/null >/dev/null 2>&1 9>&-
    fi
) 9>"$prefix.lock"
# The program's output goes through a file: a Wine process that outlives the
# program (a server or service started by this run) must not keep the
# caller's pipes open, or a caller such as ctest waits for it.
output=$(mktemp)
wine "$@" >"$output" 2>&1 9>&-
status=$?
cat "$output"
rm -f "$output"
exit $status
