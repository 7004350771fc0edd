#!/usr/bin/env bash
# The agent's figures, measured in one run pinned to one core (FIGURES_CORE,
# default 0), one line per figure:
#   1. alerts per second from the Security log to a local sink that answers
#      at once (collector, matching, alert log, cache files, posts), without
#      and with the collector's throttle (bench_figures alerts), and the CPU
#      per alert (user + system time of the benchmark over the count);
#   2. records per second for records that no definition wants;
#   3. the pre-test (IsCandidateEvent) per record with 10 and 1,000 definitions;
#   4. the real KXWkstnSvc (console mode, on a Linux machine root of its own
#      with the realistic definitions): RSS idle, peak RSS (VmHWM) while a
#      backlog of 100,000 selected records drains to the local sink, RSS two
#      seconds after the drain, and the drain's CPU per alert (its ticks over
#      the backlog);
#   5. its CPU over a minute of idling (utime + stime from /proc/PID/stat).
#
#   scripts/figures.sh [--against REV]
#
# With --against, REV (a commit) is also built, in a git worktree of its own
# under build/figures-baseline, and each figure is measured with REV's own
# benchmarks, agent and definitions and then with the working tree's, in
# the same run on the same core, the two values side by side. A figure that
# REV's programs cannot give reads "n/a".
# Takes two to four minutes, twice that with --against. Not part of the test
# command.
set -euo pipefail
export LC_ALL=C.UTF-8
cd "$(dirname "$0")/.."
repo=$PWD

against=""
case "${1:-}" in
"") ;;
--against) against=${2:?"--against needs a commit"} ;;
*)
    echo "usage: scripts/figures.sh [--against REV]" >&2
    exit 2
    ;;
esac

# The programs the figures need, in the tree's own build/linux.
build_tree() {
    (
        cd "$1"
        export CCACHE_BASEDIR=$1 CCACHE_NOHASHDIR=1
        cmake --preset linux >/dev/null
        nice -n 10 cmake --build --preset linux \
            --target KXWkstnSvc kxreg bench_figures bench_definitions >/dev/null
    )
}

# REV checked out (detached) in the baseline worktree, and built.
baseline_tree() {
    local rev tree=$repo/build/figures-baseline
    rev=$(git rev-parse --verify --quiet "$against^{commit}") || {
        echo "figures.sh: not a commit: $against" >&2
        exit 2
    }
    if [ -e "$tree/.git" ]; then
        git -C "$tree" checkout --quiet --force --detach "$rev"
    else
        git worktree add --quiet --force --detach "$tree" "$rev"
    fi
    build_tree "$tree"
    echo "$tree"
}

trees=()
labels=()
if [ -n "$against" ]; then
    baseline=$(baseline_tree)
    trees+=("$baseline")
    labels+=("$(git rev-parse --short "$against^{commit}")")
fi
build_tree "$repo"
trees+=("$repo")
labels+=("$([ -n "$against" ] && echo "working tree" || echo "")")

core=${FIGURES_CORE:-0}
pin="taskset -c $core"
count=100000
backlog=100000
work=$(mktemp -d /tmp/figures-run.XXXXXX)
sink_pid=""
agent_pid=""

cleanup() {
    [ -n "$agent_pid" ] && kill -INT "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
    [ -n "$sink_pid" ] && kill -TERM "$sink_pid" 2>/dev/null && wait "$sink_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# text padded to width characters ("µs" is one).
pad() { printf '%s%*s' "$1" $(($2 > ${#1} ? $2 - ${#1} : 0)) ''; }
# One line: the figure's name, then its value for each tree.
row() {
    pad "$1" 52
    shift
    while [ $# -gt 1 ]; do
        pad " $1" 27
        shift
    done
    printf ' %s\n' "${1:-}"
}

echo "Figures on $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, pinned to core $core, $(date -u '+%Y-%m-%d %H:%M UTC')"
if [ -n "$against" ]; then
    echo "${labels[0]}: $(git log -1 --format=%s "$against^{commit}" | cut -c1-100)"
    row "" "${labels[@]}"
fi

# "alerts/s|CPU per alert" of one bench_figures alerts run, or "n/a|n/a".
alerts_figure() {
    local tree=$1 TIMEFORMAT='%U %S'
    shift
    if ! { time $pin "$tree/build/linux/benchmarks/bench_figures" alerts "$count" "$@" \
        >"$work/bench.out" 2>/dev/null; } 2>"$work/bench.time"; then
        echo "n/a|n/a"
        return
    fi
    local rate
    rate=$(grep -o '[0-9]* alerts/s' "$work/bench.out" | head -1)
    awk -v rate="${rate:-n/a}" -v n="$count" \
        '{printf "%s|%.1f µs\n", rate, ($1 + $2) / n * 1e6}' "$work/bench.time"
}

# 1. End to end, the alert log's workers driven without their 5 s / 10 s waits.
echo "1. Security log -> local sink, the flush at every 100 ms round, sweeps back to back"
for throttle in "" --throttle; do
    rates=()
    cpus=()
    for tree in "${trees[@]}"; do
        IFS='|' read -r rate cpu < <(alerts_figure "$tree" $throttle)
        rates+=("$rate")
        cpus+=("$cpu")
    done
    if [ -z "$throttle" ]; then
        row "   alerts/s, unthrottled" "${rates[@]}"
    else
        row "   alerts/s, collector throttle" "${rates[@]}"
    fi
    row "   CPU per alert (user + system over the count)" "${cpus[@]}"
done

# 2. Records no definition wants, through the collector and the record callback.
values=()
for tree in "${trees[@]}"; do
    value=$($pin "$tree/build/linux/benchmarks/bench_figures" unwanted 200000 2>/dev/null |
        grep -o '[0-9]* records/s' | head -1) || true
    values+=("${value:-n/a}")
done
row "2. unwanted records" "${values[@]}"

# 3. The pre-test.
values=()
for tree in "${trees[@]}"; do
    value=$($pin "$tree/build/linux/benchmarks/bench_definitions" \
        --benchmark_filter=BM_IsCandidateEvent --benchmark_format=csv 2>/dev/null |
        awk -F, '/BM_IsCandidateEvent\//{printf "%s%.2f", n++ ? " / " : "", $4} END {if (n) print " ns"}') || true
    values+=("${value:-n/a}")
done
row "3. pre-test per record, 10 / 1,000 definitions" "${values[@]}"

# 4 and 5. The real agent of a tree on a machine of its own; its figures as
# "name=value" lines in $work/agent.N.
status() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
product='HKLM\SOFTWARE\Brenwick Corporation\Korvex\Settings'
hz=$(getconf CLK_TCK)

agent_figures() {
    local tree=$1 side=$2
    local machine=$work/machine.$side bin=$work/bin.$side port=$work/port.$side
    local bench=$tree/build/linux/benchmarks kxreg=$tree/build/linux/tools/kxreg/kxreg
    mkdir -p "$machine" "$bin"
    export KX_MACHINE_ROOT=$machine
    cp "$tree/build/linux/src/service/KXWkstnSvc" "$tree/build/linux/src/service/KXWkstnSvc.dll" "$bin/"
    iconv -f UTF-8 -t UTF-16LE "$tree/data/definitions/KXEventDefinitions.xml" >"$bin/KXEventDefinitions.xml"
    $pin "$bench/bench_figures" sink "$port" >/dev/null &
    sink_pid=$!
    for _ in $(seq 50); do [ -s "$port" ] && break; sleep 0.1; done
    "$kxreg" policy /enable /server 127.0.0.1 /port "$(cat "$port")" >/dev/null
    "$kxreg" add "$product" /v EDVersion /t REG_SZ /d 1 /f >/dev/null
    "$kxreg" add "$product" /v LoggingLevel /t REG_DWORD /d 3 /f >/dev/null
    position() {
        local value
        value=$("$kxreg" query "$product" /v WSLastEventLogRecordNumber 2>/dev/null |
            awk '/WSLastEventLogRecordNumber/ {print $NF}')
        printf '%d' "${value:-0}"
    }
    start_agent() {
        $pin "$bin/KXWkstnSvc" -debug >"$work/agent.$side.out" 2>&1 &
        agent_pid=$!
    }
    stop_agent() {
        kill -INT "$agent_pid"
        wait "$agent_pid" || true
        agent_pid=""
    }

    start_agent
    sleep 15 # past the start and the first sweep
    echo "idle=$(status "$agent_pid" VmRSS) kB ($(status "$agent_pid" RssAnon) + $(status "$agent_pid" RssFile))"
    local ticks0 ticks1
    ticks0=$(cpu_ticks "$agent_pid")
    sleep 60
    ticks1=$(cpu_ticks "$agent_pid")
    echo "idle75=$(status "$agent_pid" VmRSS) kB"
    stop_agent
    awk -v t=$((ticks1 - ticks0)) -v hz="$hz" \
        'BEGIN {printf "idlecpu=%.3f %% (%d ticks)\n", t / hz / 60 * 100, t}'

    # The backlog: selected records in the Security log before the start.
    $pin "$bench/bench_figures" fill "$backlog"
    "$kxreg" add "$product" /v WSLastEventLogRecordNumber /t REG_DWORD /d 0 /f >/dev/null
    local started drained="" peak after ticks
    started=$(date +%s.%N)
    start_agent
    for _ in $(seq 1200); do
        sleep 0.5
        # Not ls: a file that the sweep deletes between the glob and ls's
        # look at it makes ls fail, and the drain would seem over.
        if [ "$(position)" -ge "$backlog" ] 2>/dev/null && ! compgen -G "$bin/KX_*.tmp" >/dev/null; then
            drained=$(date +%s.%N)
            break
        fi
    done
    peak=$(status "$agent_pid" VmHWM)
    sleep 2 # the sweep that sent the last file ends
    after=$(status "$agent_pid" VmRSS)
    ticks=$(cpu_ticks "$agent_pid")
    stop_agent
    kill -TERM "$sink_pid"
    wait "$sink_pid" || true
    sink_pid=""
    echo "peak=$peak kB"
    echo "after=$after kB"
    if [ -n "$drained" ]; then
        awk -v s="$started" -v e="$drained" -v n="$backlog" -v t="$ticks" -v hz="$hz" 'BEGIN {
            printf "drain=%.1f s, %.0f alerts/s\n", e - s, n / (e - s)
            printf "draincpu=%.1f µs (%d ticks)\n", t / hz / n * 1e6, t
        }'
    else
        echo "drain=not drained in 10 minutes"
    fi
}

for side in "${!trees[@]}"; do
    agent_figures "${trees[$side]}" "$side" >"$work/agent.$side" || true
done
agent_values() {
    local side value
    for side in "${!trees[@]}"; do
        value=$(sed -n "s/^$1=//p" "$work/agent.$side")
        printf '%s\n' "${value:-n/a}"
    done
}
agent_row() {
    local values=()
    mapfile -t values < <(agent_values "$2")
    row "$1" "${values[@]}"
}
agent_row "4. idle RSS after 15 s (anonymous + mapped files)" idle
agent_row "   idle RSS after 75 s" idle75
agent_row "   peak RSS (VmHWM) draining $backlog alerts" peak
agent_row "   RSS 2 s after the drain" after
agent_row "   the drain, own 5 s flush, 10 s sweep, throttle" drain
agent_row "   CPU per alert of the drain (ticks over backlog)" draincpu
agent_row "5. idle CPU over 60 s" idlecpu
