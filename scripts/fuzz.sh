#!/bin/sh
# Runs every libFuzzer target of the linux-fuzz preset for a while on its
# corpus, one after the other, at the lowest priority: scripts/fuzz.sh
# [seconds-per-target] [target...] (default 10 seconds, every target).
# The seeds of fuzz/corpus/<name>/ stay as they are; what a run learns goes
# to build/linux-fuzz/corpus/<name>/, and a crash, hang or leak to
# build/linux-fuzz/artifacts/<name>/. Each run's figures go to
# build/linux-fuzz/logs/<name>.log; the last lines of each are printed.
# Exits 1 when any target found something. FUZZ_KEEP_GOING=1 (for long
# runs) lets a target go on after a finding, in one forked worker, and keep
# every finding's input. FUZZ_OUT=folder puts corpus, artifacts and logs
# there instead of the build folder.
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

failed=""
for name in $targets; do
    binary="$build/fuzz/fuzz_$name"
    if [ ! -x "$binary" ]; then
        echo "fuzz $name: $binary is missing (cmake --build --preset linux-fuzz)"
        failed="$failed $name"
        continue
    fi
    mkdir -p "$out/corpus/$name" "$out/artifacts/$name" "$out/logs"
    before=$(find "$out/artifacts/$name" -type f | wc -l)
    keep=""
    [ "${FUZZ_KEEP_GOING:-0}" = 1 ] &&
        keep="-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1"
    dict=""
    [ -f "fuzz/dict/$name.dict" ] && dict="-dict=fuzz/dict/$name.dict"
    # -timeout: one input that runs this long is a hang; -rss_limit_mb: one
    # that takes this much memory is a flood the reader let in.
    # shellcheck disable=SC2086
    nice -n 19 "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 $dict $keep \
        -artifact_prefix="$out/artifacts/$name/" \
        "$out/corpus/$name" "fuzz/corpus/$name" >"$out/logs/$name.log" 2>&1
    status=$?
    summary=$(grep -E '^#[0-9]+.*cov:' "$out/logs/$name.log" | tail -1)
    execs=$(grep -E '^stat::number_of_executed_units' "$out/logs/$name.log" | awk '{print $2}')
    rate=$(grep -E '^stat::average_exec_per_sec' "$out/logs/$name.log" | awk '{print $2}')
    echo "fuzz $name: ${seconds}s, ${execs:-?} runs, ${rate:-?}/s, $summary"
    found=$(($(find "$out/artifacts/$name" -type f | wc -l) - before))
    if [ "$status" -ne 0 ] || [ "$found" -gt 0 ]; then
        echo "fuzz $name: FOUND SOMETHING (exit $status), see $out/logs/$name.log:"
        grep -E 'ERROR|SUMMARY|Test unit written|runtime error' "$out/logs/$name.log" | head -5
        failed="$failed $name"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzz: findings or failures in:$failed"
    exit 1
fi
echo "fuzz: every target ran ${seconds}s without a finding."
