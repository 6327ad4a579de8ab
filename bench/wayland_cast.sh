#!/usr/bin/env bash
# The screen of a Wayland session: frames, pointer-move latency and CPU of the reading side and
# of mutter, under a private headless GNOME session (scripts/gnome-session.sh), SECONDS (10)
# per case.
#   bench/wayland_cast.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${2:-build/test}
cmake --build "$build" --target bench_wayland_cast >/dev/null
scripts/gnome-session.sh -- "$build/bench/bench_wayland_cast" "${1:-10}"
