#!/bin/sh
# The agent's main job on this machine. The agent executable does not exist
# yet: until it does, this builds the Linux preset and runs what there is,
# the diagnostic log and worker thread foundation, through its benchmark.
set -eu
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
echo "The agent executable is not built yet; running the diagnostic log benchmark instead."
exec build/linux/benchmarks/bench_logging
