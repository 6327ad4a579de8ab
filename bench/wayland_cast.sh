#!/usr/bin/env bash
# The screen of a Wayland session, SECONDS (10) per case:
# - the reading side alone: frames, pointer-move latency and CPU of the reader and of mutter,
#   under a private headless GNOME session (scripts/gnome-session.sh);
# - the whole program as a user starts it, on that session and, beside it, on a private X
#   server with a window manager (scripts/xsession.sh) at the same size: view frames,
#   pointer-move-to-view latency and CPU of Ombrix and of the display server.
#   bench/wayland_cast.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${2:-build/test}
seconds=${1:-10}
cmake --build "$build" --target bench_wayland_cast bench_program_view >/dev/null
scripts/gnome-session.sh -- "$build/bench/bench_wayland_cast" "$seconds"
scripts/gnome-session.sh -- "$build/bench/bench_program_view" "$seconds"
. scripts/xsession.sh
unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE
ombrix_start_xsession 1280x800x24
trap ombrix_stop_xsession EXIT
DISPLAY=$OMBRIX_X11_DISPLAY OMBRIX_X11_SERVER_PID=$OMBRIX_XVFB_PID \
  "$build/bench/bench_program_view" "$seconds"
