#!/usr/bin/env bash
# The speed figures that matter most, in one run: the kernel-less filters at boxes 3, 15 and 31
# beside their plain passes, the unsharp mask of strength 5 beside its reference, the whole
# frame beside its stages (in memory and on a private X display), and the idle magnifier.
# 1024 x 768, 2 threads, medians of 5. Run it on a quiet machine: only figures from one run
# compare.
#   bench/speed_table.sh [BUILD_DIR]      (default build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
cmake --build "$build" --target bench_rank bench_fast_kernel bench_frame bench_idle_cpu >/dev/null
bench=$build/bench

# name and median wall time of each aggregate line of Google Benchmark's console output
medians() {
  "$@" --benchmark_report_aggregates_only=true 2>/dev/null |
    awk '/_median / {
      # Names may hold spaces: the time and its unit are the fifth and fourth fields from the
      # end, before any user counters (name=value).
      name = $0; sub(/\/repeats:5.*/, "", name)
      n = NF; while ($n ~ /=/) --n
      printf "%-58s %9s %s\n", name, $(n - 4), $(n - 3) }'
}

echo "== kernel-less filters (wall)"
medians "$bench/bench_rank" \
  --benchmark_filter='^(Median|Minimum|Maximum)/box:(3|15|31)/(plain|fast/threads:2)/'
echo "== unsharp mask, strength 5 (wall)"
medians "$bench/bench_fast_kernel" \
  --benchmark_filter='^Unsharp strength 5 .*/(reference|fast/[a-z0-9]+/threads:2)/'

. scripts/xsession.sh
unset DISPLAY
ombrix_start_xsession 1600x1000x24
trap ombrix_stop_xsession EXIT
echo "== one frame, zoom 8, strength 5, cross-line (wall)"
QT_QPA_PLATFORM=xcb DISPLAY=$OMBRIX_X11_DISPLAY medians "$bench/bench_frame" \
  --benchmark_filter='^Frame(Capture|Zoom8|Sharpen5|CrossLine|Whole|CycleRun|CycleShown|CycleX11|CycleX11Shown)/'
echo "== the same frame beside its stages, timed alternately (medians, ms; _cpu: every thread)"
QT_QPA_PLATFORM=xcb DISPLAY=$OMBRIX_X11_DISPLAY "$bench/bench_frame" \
  --benchmark_filter='^FrameWholeBesideStages' 2>/dev/null |
  awk '/^FrameWholeBesideStages/ {
    name = $1; sub(/\/min_time.*/, "", name); line = name
    for (i = 2; i <= NF; ++i) if ($i ~ /=/) line = line " " $i
    print line }'
echo "== idle magnifier, 10 s"
"$bench/bench_idle_cpu" 10
