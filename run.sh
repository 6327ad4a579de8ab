#!/usr/bin/env bash
# Builds Ombrix (Release) and starts it on your X11 display.
#   ./run.sh          build and start
#   ./run.sh --demo   on a machine without a display: run Ombrix on a virtual display over a
#                     test picture and save a screenshot
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
demo=0
[ "${1:-}" = "--demo" ] && demo=1
# shellcheck disable=SC2086
if [ $demo -eq 1 ]; then
  ombrix_need_packages $OMBRIX_BUILD_PACKAGES $OMBRIX_TEST_PACKAGES
else
  ombrix_need_packages $OMBRIX_BUILD_PACKAGES
fi

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRIX_BUILD_TESTS=OFF -DOMBRIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"

if [ $demo -eq 1 ]; then
  exec scripts/demo.sh "$build/app/ombrix"
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "No X11 display (DISPLAY is not set). Run Ombrix on a desktop, or try: ./run.sh --demo" >&2
  exit 1
fi
exec "$build/app/ombrix"
