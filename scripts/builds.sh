# shellcheck shell=bash
# Sourced: how the build folders that test.sh and the scripts share are configured, in one place.
# OMBRIX_CMAKE_ARGS adds arguments to every configure.

# ombrix_configure_sanitized DIR : a build under AddressSanitizer and UBSan, without benchmarks.
ombrix_configure_sanitized() {
  # shellcheck disable=SC2086
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_SANITIZE=ON \
    -DOMBRIX_BUILD_BENCH=OFF ${OMBRIX_CMAKE_ARGS:-}
}

# The unit test programs, and what they run: built a second time with clang, so that a path
# that only one compiler takes fails.
OMBRIX_UNIT_TARGETS="platform_tests drawing_tests imaging_tests fast_kernel_tests fast_rank_tests
  stages_tests frame_cycle_tests tools_tests fuzz_regression_tests ombrix-filter sample_picture"

# ombrix_configure_clang DIR : a Release build with clang, without benchmarks.
ombrix_configure_clang() {
  # shellcheck disable=SC2086
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
    -DOMBRIX_BUILD_BENCH=OFF ${OMBRIX_CMAKE_ARGS:-}
}
