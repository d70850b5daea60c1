#!/bin/sh
# Builds and runs the codec benchmark (optimised build in its own directory).
#   bench-codec.sh [megabytes]   default 10; CI passes a small size
#   BENCH_BUILD_DIR              build directory (default build-bench)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DZELPOST_BENCH=ON -DZELPOST_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"${BENCH_JOBS:-2}" --target bench_codec
"$build/bench/codec/bench_codec" "${1:-${ZEL_BENCH_MB:-10}}"
