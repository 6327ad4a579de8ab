#!/usr/bin/env bash
# Coverage-guided fuzzing of the picture readers, the kernel stream (with the fast kernel passes
# against the reference), ombrix-filter's path and the fast kernel-less passes against their
# plain ones.
# Builds the libFuzzer programs of fuzz/ with clang under ASan and UBSan (build/fuzz), writes
# the seed inputs, then runs each target in turn over its corpus with its dictionary.
#   scripts/fuzz.sh [SECONDS]    each target for SECONDS (default 60)
#   scripts/fuzz.sh --runs N     each target for N executions (the smoke run of test.sh)
# OMBRIX_FUZZ_TARGETS picks targets (default: bmp png jpeg kernel filter rank). An input that
# crashes or breaks a contract is written to build/fuzz/findings/TARGET/ and fails the run;
# keep it in fuzz/regressions/TARGET/ once mended, where the unit tests replay it.
# Long runs of the comparing targets (rank) go several times faster without ASan and UBSan:
#   OMBRIX_FUZZ_BUILD_DIR=build/fuzz-fast OMBRIX_CMAKE_ARGS=-DOMBRIX_FUZZ_MEMORY_CHECKS=OFF \
#   OMBRIX_FUZZ_TARGETS=rank OMBRIX_FUZZ_FORKS=2 scripts/fuzz.sh --runs 10000000
# OMBRIX_FUZZ_FORKS=N runs N fuzzing processes of each target side by side on one corpus, each
# with the limit above (libFuzzer's own -fork mode restarts its jobs too often to keep up).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
# shellcheck disable=SC2086
ombrix_need_packages $OMBRIX_BUILD_PACKAGES $OMBRIX_FUZZ_PACKAGES

if [ "${1:-}" = --runs ]; then
  limit=(-runs="${2:?--runs needs a number}")
else
  limit=(-max_total_time="${1:-60}")
fi
build=${OMBRIX_FUZZ_BUILD_DIR:-build/fuzz}
targets=${OMBRIX_FUZZ_TARGETS:-bmp png jpeg kernel filter rank}

# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DOMBRIX_FUZZ=ON -DOMBRIX_BUILD_TESTS=OFF \
  -DOMBRIX_BUILD_BENCH=OFF ${OMBRIX_CMAKE_ARGS:-} >/dev/null
# shellcheck disable=SC2046,SC2086
cmake --build "$build" --parallel "$(nproc)" --target fuzz_seeds $(printf 'fuzz_%s ' $targets)

scripts/fuzz-seeds.sh "$build/fuzz/fuzz_seeds" "$build/corpus"

forks=${OMBRIX_FUZZ_FORKS:-1}
failed=0
for target in $targets; do
  mkdir -p "$build/findings/$target" "$build/logs"
  echo "fuzz: $target (${limit[*]}, $forks at once)"
  pids=()
  for ((j = 1; j <= forks; j++)); do
    # Runs leave stdout to the summary below; libFuzzer reports on stderr.
    "$build/fuzz/fuzz_$target" "$build/corpus/$target" -dict="fuzz/dict/$target.dict" \
      -artifact_prefix="$build/findings/$target/" -timeout=20 -rss_limit_mb=2560 \
      -malloc_limit_mb=2048 -print_final_stats=1 "${limit[@]}" >"$build/logs/$target.$j.log" 2>&1 &
    pids+=($!)
  done
  runs=0
  for ((j = 1; j <= forks; j++)); do
    log="$build/logs/$target.$j.log"
    if ! wait "${pids[$((j - 1))]}"; then
      failed=1
      echo "fuzz: $target FAILED; the input is in $build/findings/$target/" >&2
      grep -E "ERROR|contract broken|SUMMARY" "$log" | head -5 >&2 || true
    fi
    runs=$((runs + $(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 | grep . || echo 0)))
  done
  coverage=$(grep -ohE 'cov: [0-9]+ ft: [0-9]+' "$build/logs/$target".*.log | tail -1 || true)
  echo "fuzz: $target $runs executions, ${coverage:-no coverage line}, corpus $(find "$build/corpus/$target" -type f | wc -l) inputs"
done
exit $failed
