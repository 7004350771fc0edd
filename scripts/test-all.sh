#!/bin/sh
# Builds every preset and runs every test: Linux (plain, AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer) and the Windows x64 build under
# Wine; the Windows x86 build is compiled only, without its tests (no 32-bit
# Wine here). Last,
# every fuzz target of linux-fuzz runs briefly on its corpus (scripts/fuzz.sh).
set -eu
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

# Compiler results are shared between checkouts of the repository: paths are
# hashed relative to it, so a fresh clone reuses what another one compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

failed=""
run() {
    echo "==> $*"
    "$@" || failed="$failed\n  $*"
}
run scripts/check-format.sh
run cmake --preset linux >/dev/null
run cmake --build --preset linux
# The runs of the real agent (labels agent and reliability) mostly wait on its
# 5 and 10 second intervals: they go on while the other presets build, and
# the builds run at the lowest priority, the agent's own, so that they share
# the processor with it fairly.
agent_runs=build/linux/agent-runs
(ctest --preset linux -L 'agent|reliability' >"$agent_runs.log" 2>&1
 echo $? >"$agent_runs.status") &
for preset in linux-asan linux-tsan windows-x64 windows-x86 linux-fuzz; do
    run cmake --preset "$preset" >/dev/null
    run nice -n 19 cmake --build --preset "$preset"
done
wait
echo "==> ctest --preset linux -L 'agent|reliability' (while the builds ran)"
cat "$agent_runs.log"
[ "$(cat "$agent_runs.status")" = 0 ] || failed="$failed\n  ctest --preset linux -L 'agent|reliability'"
run ctest --preset linux -LE 'agent|reliability'
for preset in linux-asan linux-tsan windows-x64; do
    run ctest --preset "$preset"
done
WINEPREFIX="$PWD/build/windows-x64/wineprefix" wineserver -k 2>/dev/null || true
# 8 seconds per target, about two minutes in all: enough to catch a reader
# that breaks on its own seeds or on what they mutate into at once.
run scripts/fuzz.sh 8

if [ -n "$failed" ]; then
    printf "FAILED:$failed\n"
    exit 1
fi
echo "All builds and tests passed."
