#!/bin/bash
# Builds the Linux targets in build/ (or $ZEL_BUILD) and runs every test with
# CTest. The end-to-end cases start and stop their own Dovecot and aiosmtpd
# servers through a CTest fixture.
#   ZEL_BUILD   build directory (default: build in the source tree)
#   ZEL_JOBS    parallel build jobs (default 2)
#   ZEL_CMAKE_ARGS  extra configure arguments, e.g. -DZELPOST_SANITIZE=ON
#   ZEL_TARGETS  build only these targets (default: all)
# Further arguments go to ctest (e.g. -L tsan).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_BUILD:-$root/build}
jobs=${ZEL_JOBS:-2}

# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ZEL_CMAKE_ARGS:-} >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$jobs" ${ZEL_TARGETS:+--target $ZEL_TARGETS}
cd "$build"
ctest --output-on-failure -j"$jobs" "$@"
