#!/bin/sh
# Runs every libFuzzer target of the linux-fuzz preset for a while on its
# corpus, one after the other, at the lowest priority: scripts/fuzz.sh
# [seconds-per-target] [target...] (default 10 seconds, every target).
# The seeds of fuzz/corpus/<name>/ stay as they are; what a run learns goes
# to build/linux-fuzz/corpus/<name>/, and a crash, hang or leak to
# build/linux-fuzz/artifacts/<name>/. Each run's figures go to
# build/linux-fuzz/logs/<name>.log (CPU seconds in <name>.cpu, by GNU time);
# one line per target is printed.
# Exits 1 when any target found something.
#   FUZZ_KEEP_GOING=1  (long runs) a target that found something starts
#                      again until its time is used up; every finding's
#                      input is kept.
#   FUZZ_OUT=folder    corpus, artifacts and logs go there instead.
set -u
cd "$(dirname "$0")/.."
seconds="${1:-10}"
[ $# -gt 0 ] && shift
build=build/linux-fuzz
out="${FUZZ_OUT:-$build}"
targets="$*"
if [ -z "$targets" ]; then
    for source in fuzz/*.cpp; do
        targets="$targets $(basename "$source" .cpp)"
    done
fi

# One libFuzzer process for the given seconds; its output is appended to
# the target's log.
run_once() {
    name=$1
    limit=$2
    dict=""
    [ -f "fuzz/dict/$name.dict" ] && dict="-dict=fuzz/dict/$name.dict"
    # -timeout: one input that runs this long is a hang; -rss_limit_mb: one
    # that takes this much memory is a flood the reader let in.
    # shellcheck disable=SC2086
    nice -n 19 /usr/bin/time -a -o "$out/logs/$name.cpu" -f "%U %S" \
        "$build/fuzz/fuzz_$name" -max_total_time="$limit" -timeout=10 \
        -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 $dict \
        -artifact_prefix="$out/artifacts/$name/" \
        "$out/corpus/$name" "fuzz/corpus/$name" >>"$out/logs/$name.log" 2>&1
}

failed=""
for name in $targets; do
    if [ ! -x "$build/fuzz/fuzz_$name" ]; then
        echo "fuzz $name: $build/fuzz/fuzz_$name is missing (cmake --build --preset linux-fuzz)"
        failed="$failed $name"
        continue
    fi
    mkdir -p "$out/corpus/$name" "$out/artifacts/$name" "$out/logs"
    : >"$out/logs/$name.log"
    : >"$out/logs/$name.cpu"
    before=$(find "$out/artifacts/$name" -type f | wc -l)
    start=$(date +%s)
    status=0
    runs=0
    executions=0
    while :; do
        elapsed=$(($(date +%s) - start))
        [ "$elapsed" -lt "$seconds" ] || break
        run_once "$name" $((seconds - elapsed)) || status=$?
        runs=$((runs + 1))
        last=$(grep -E '^stat::number_of_executed_units' "$out/logs/$name.log" | tail -1)
        executions=$((executions + ${last##* }))
        [ "$status" -eq 0 ] || [ "${FUZZ_KEEP_GOING:-0}" = 1 ] || break
        [ "$status" -eq 0 ] && break
        [ "$runs" -lt 50 ] || break
    done
    elapsed=$(($(date +%s) - start))
    summary=$(grep -E '^#[0-9]+.*cov:' "$out/logs/$name.log" | tail -1 | sed 's/^#[0-9]*[[:space:]]*//')
    found=$(($(find "$out/artifacts/$name" -type f | wc -l) - before))
    # CPU seconds (user and system) of the target's processes: on a shared
    # machine they can be fewer than the seconds it ran.
    cpu=$(awk '{ total += $1 + $2 } END { printf "%d", total }' "$out/logs/$name.cpu")
    echo "fuzz $name: ${elapsed}s (${cpu} CPU s), $executions runs, $((executions / (elapsed > 0 ? elapsed : 1)))/s, $found found, $summary"
    if [ "$status" -ne 0 ] || [ "$found" -gt 0 ]; then
        echo "fuzz $name: FOUND SOMETHING, see $out/logs/$name.log:"
        grep -E '^SUMMARY|Test unit written' "$out/logs/$name.log" | sort | uniq -c | head -10
        failed="$failed $name"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzz: findings or failures in:$failed"
    exit 1
fi
echo "fuzz: every target ran ${seconds}s without a finding."
