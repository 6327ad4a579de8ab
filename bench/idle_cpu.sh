#!/usr/bin/env bash
# CPU time of the running magnifier over 10 s (or $1 s) at its largest size, zoom 8, sharpen 5,
# with and without keeping the view of a still zone, over a still screen and under a window
# repainting every 16 ms. Starts a private virtual display with a window manager for the run.
#   bench/idle_cpu.sh [SECONDS] [BUILD_DIR] [idle]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${2:-build/test}
cmake --build "$build" --target bench_idle_cpu >/dev/null
. scripts/xsession.sh
unset DISPLAY
ombrix_start_xsession 1600x1000x24
trap ombrix_stop_xsession EXIT
"$build/bench/bench_idle_cpu" "${1:-10}" ${3:-}
