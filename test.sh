#!/usr/bin/env bash
# Builds Ombrix and runs every test (unit, gui, and x11 under a virtual display).
# Installs the Debian packages it needs when they are missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
# shellcheck disable=SC2086
ombrix_need_packages $OMBRIX_BUILD_PACKAGES $OMBRIX_TEST_PACKAGES

build=${OMBRIX_TEST_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release ${OMBRIX_CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"

# The x11 tests need an X server with a window manager: start a private one for this run.
. scripts/xsession.sh
ombrix_start_xsession
trap ombrix_stop_xsession EXIT

cd "$build"
ctest --output-on-failure --timeout 300 --parallel "$(nproc)"
