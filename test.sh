#!/usr/bin/env bash
# Builds Ombrix and runs every test (unit, gui, and x11 under a virtual display); the unit tests
# again built with clang; every test again in a build under AddressSanitizer and UBSan; a short
# run of every fuzz target, and a one-minute soak of the sanitized program.
# Installs the Debian packages it needs when they are missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
# shellcheck disable=SC2086
ombrix_need_packages $OMBRIX_BUILD_PACKAGES $OMBRIX_TEST_PACKAGES $OMBRIX_FUZZ_PACKAGES

build=${OMBRIX_TEST_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release ${OMBRIX_CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"

# The x11 tests need an X server with a window manager: start a private one for this run.
. scripts/xsession.sh
ombrix_start_xsession
trap ombrix_stop_xsession EXIT

ctest --test-dir "$build" --output-on-failure --timeout 300 --parallel "$(nproc)"

# The unit tests again, built with clang: a path that only one compiler takes fails here. The
# install check is left to the first build.
. scripts/builds.sh
clang=${OMBRIX_CLANG_BUILD_DIR:-build/clang}
ombrix_configure_clang "$clang"
# shellcheck disable=SC2086
cmake --build "$clang" --parallel "$(nproc)" --target $OMBRIX_UNIT_TARGETS
ctest --test-dir "$clang" --output-on-failure --timeout 300 --parallel "$(nproc)" -L unit \
  -E '^(install\.|test_names$)'

# The same tests under the sanitizers, in a build of their own: any report fails the test.
sanitize=${OMBRIX_SANITIZE_BUILD_DIR:-build/sanitize}
ombrix_configure_sanitized "$sanitize"
cmake --build "$sanitize" --parallel "$(nproc)"
. scripts/sanitizers.sh
ctest --test-dir "$sanitize" --output-on-failure --timeout 600 --parallel "$(nproc)"

# A smoke run of each fuzz target, and the sanitized program under random input for a minute.
scripts/fuzz.sh --runs "${OMBRIX_FUZZ_RUNS:-20000}"
OMBRIX_SOAK_BUILD_DIR=$sanitize scripts/soak.sh 1
