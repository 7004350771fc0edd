#!/usr/bin/env bash
# The agent's figures, measured in one run pinned to one core (FIGURES_CORE,
# default 0), each printed on a line of its own:
#   1. alerts per second from the Security log to a local sink that answers
#      at once (collector, matching, alert log, cache files, posts), without
#      and with the collector's throttle (bench_figures alerts);
#   2. records per second for records that no definition wants;
#   3. the pre-test (IsCandidateEvent) per record with 10 and 1,000 definitions;
#   4. the real KXWkstnSvc (console mode, on a Linux machine root of its own
#      with the realistic definitions): RSS idle, and peak RSS (VmHWM) while a
#      backlog of 100,000 selected records drains to the local sink;
#   5. its CPU over a minute of idling (utime + stime from /proc/PID/stat).
# Takes two to four minutes. Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
export CCACHE_BASEDIR=$repo CCACHE_NOHASHDIR=1
cmake --preset linux >/dev/null
cmake --build --preset linux --target KXWkstnSvc kxreg bench_figures bench_definitions >/dev/null

core=${FIGURES_CORE:-0}
pin="taskset -c $core"
bench=$repo/build/linux/benchmarks
kxreg=$repo/build/linux/tools/kxreg/kxreg
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

echo "Figures on $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, pinned to core $core, $(date -u '+%Y-%m-%d %H:%M UTC')"

# 1. End to end, the alert log's workers driven without their 5 s / 10 s waits.
echo "1. alerts/s, Security log -> local sink, the flush at every 100 ms round, sweeps back to back:"
echo "   unthrottled:          $($pin "$bench/bench_figures" alerts 100000)"
echo "   collector throttle:   $($pin "$bench/bench_figures" alerts 100000 --throttle)"

# 2. Records no definition wants, through the collector and the record callback.
echo "2. unwanted records:     $($pin "$bench/bench_figures" unwanted 200000)"

# 3. The pre-test.
pretest=$($pin "$bench/bench_definitions" --benchmark_filter=BM_IsCandidateEvent \
    --benchmark_format=csv 2>/dev/null | awk -F, '/BM_IsCandidateEvent\//{gsub(/"/,"",$1); split($1,a,"/"); printf "%s definitions %.2f ns/record; ", a[2], $4}')
echo "3. pre-test:             ${pretest%; }"

# 4 and 5. The real agent on a machine of its own.
machine=$work/machine
bin=$work/bin
mkdir -p "$machine" "$bin"
export KX_MACHINE_ROOT=$machine
cp build/linux/src/service/KXWkstnSvc build/linux/src/service/KXWkstnSvc.dll "$bin/"
iconv -f UTF-8 -t UTF-16LE data/definitions/KXEventDefinitions.xml >"$bin/KXEventDefinitions.xml"
$pin "$bench/bench_figures" sink "$work/port" >/dev/null &
sink_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
product='HKLM\SOFTWARE\Brenwick Corporation\Korvex\Settings'
"$kxreg" policy /enable /server 127.0.0.1 /port "$(cat "$work/port")" >/dev/null
"$kxreg" add "$product" /v EDVersion /t REG_SZ /d 1 /f >/dev/null
"$kxreg" add "$product" /v LoggingLevel /t REG_DWORD /d 3 /f >/dev/null

status() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
position() {
    local value
    value=$("$kxreg" query "$product" /v WSLastEventLogRecordNumber 2>/dev/null |
        awk '/WSLastEventLogRecordNumber/ {print $NF}')
    printf '%d' "${value:-0}"
}
start_agent() {
    $pin "$bin/KXWkstnSvc" -debug >"$work/agent.out" 2>&1 &
    agent_pid=$!
}
stop_agent() {
    kill -INT "$agent_pid"
    wait "$agent_pid" || true
    agent_pid=""
}

start_agent
sleep 15 # past the start and the first sweep
idle_rss=$(status "$agent_pid" VmRSS)
idle_anon=$(status "$agent_pid" RssAnon)
idle_file=$(status "$agent_pid" RssFile)
ticks0=$(cpu_ticks "$agent_pid")
sleep 60
ticks1=$(cpu_ticks "$agent_pid")
idle_rss_after=$(status "$agent_pid" VmRSS)
stop_agent
hz=$(getconf CLK_TCK)
echo "4. idle RSS:             ${idle_rss} kB after 15 s (${idle_anon} kB anonymous, ${idle_file} kB mapped files: the shared libraries), ${idle_rss_after} kB after 75 s"
awk -v t=$((ticks1 - ticks0)) -v hz="$hz" \
    'BEGIN {printf "5. idle CPU:             %.3f %% of a core (%d ticks of 1/%d s in 60 s)\n", t / hz / 60 * 100, t, hz}'

# The backlog: selected records in the Security log before the start.
$pin "$bench/bench_figures" fill "$backlog"
"$kxreg" add "$product" /v WSLastEventLogRecordNumber /t REG_DWORD /d 0 /f >/dev/null
started=$(date +%s.%N)
start_agent
drained=""
for _ in $(seq 1200); do
    sleep 0.5
    if [ "$(position)" -ge "$backlog" ] 2>/dev/null && ! ls "$bin"/KX_*.tmp >/dev/null 2>&1; then
        drained=$(date +%s.%N)
        break
    fi
done
peak=$(status "$agent_pid" VmHWM)
sleep 2 # the sweep that sent the last file ends
after_drain=$(status "$agent_pid" VmRSS)
stop_agent
if [ -n "$drained" ]; then
    awk -v s="$started" -v e="$drained" -v n="$backlog" -v p="$peak" -v r="$after_drain" 'BEGIN {
        printf "4. peak RSS (VmHWM):     %s kB draining %d alerts (%s kB two seconds after the drain)\n", p, n, r
        printf "   that drain, with the agent'"'"'s own 5 s flush, 10 s sweep and throttle: %.1f s, %.0f alerts/s\n", e - s, n / (e - s)
    }'
else
    echo "4. peak RSS (VmHWM):     ${peak} kB; the backlog did not drain within 10 minutes"
fi
