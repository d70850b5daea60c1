#!/bin/bash
# Runs every benchmark once on tiny inputs, to show that they still build
# and run; the numbers of such a run mean nothing. Full runs:
#   scripts/bench-codec.sh   scripts/bench-net.sh   scripts/bench-send.sh
#   scripts/bench-index.sh   scripts/bench-recv.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bench-codec.sh" 0.05
bash "$root/scripts/bench-net.sh" 5 3
bash "$root/scripts/bench-send.sh" 5 64
bash "$root/scripts/bench-index.sh" 200 1
bash "$root/scripts/bench-recv.sh" 5 20
