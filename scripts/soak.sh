#!/usr/bin/env bash
# Soak: the sanitized ombrix on a private virtual display with a window manager, driven by
# random real input (cursor moves and rests, panel clicks, drags, resizes, Space, Ctrl+C,
# Ctrl+M) while its memory is sampled. Fails when the program dies, when a sanitizer reports
# a fault in our code, or when its memory keeps growing.
#   scripts/soak.sh MINUTES
# OMBRIX_SOAK_BUILD_DIR: the sanitized build (default build/sanitize, built when missing);
# OMBRIX_SOAK_SEED: the random seed, to replay a run.
set -euo pipefail
minutes=${1:?usage: scripts/soak.sh MINUTES}
cd "$(dirname "$0")/.."
repo=$(pwd)
. scripts/deps.sh
# shellcheck disable=SC2086
ombrix_need_packages $OMBRIX_BUILD_PACKAGES $OMBRIX_TEST_PACKAGES

build=${OMBRIX_SOAK_BUILD_DIR:-build/sanitize}
if [ ! -x "$build/app/ombrix" ]; then
  . scripts/builds.sh
  ombrix_configure_sanitized "$build" >/dev/null
  cmake --build "$build" --parallel "$(nproc)" --target ombrix
fi
ombrix=$(realpath "$build/app/ombrix")

work=$(mktemp -d -t ombrix-soak.XXXXXX)
ombrix_pid=
picture_pid=
. scripts/xsession.sh
cleanup() {
  set +e  # every step runs, whatever the one before it returned
  [ -n "$ombrix_pid" ] && kill "$ombrix_pid" 2>/dev/null && wait "$ombrix_pid" 2>/dev/null
  [ -n "$picture_pid" ] && kill "$picture_pid" 2>/dev/null
  ombrix_stop_xsession
  rm -rf "$work"
}
trap cleanup EXIT

ombrix_start_xsession 1280x800x24
export DISPLAY=$OMBRIX_X11_DISPLAY
# Something to magnify: colours, edges and text over most of the screen.
convert -size 1200x760 gradient:gold-navy -fill crimson -draw "circle 600,380 600,150" \
  -fill white -draw "rectangle 80,600 1100,680" -fill black -font DejaVu-Sans -pointsize 48 \
  -annotate +120+660 "Ombrix soak" "$work/picture.png"
display -title "Soak picture" -geometry +0+0 "$work/picture.png" &
picture_pid=$!
ombrix_wait_for 20 xdotool search --name "^Soak picture$"

# Every report goes to a file; a small quarantine lets ASan's own memory settle quickly, so
# growth seen later is the program's.
. scripts/sanitizers.sh
export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0:quarantine_size_mb=16:log_path=$work/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=0:log_path=$work/ubsan"
"$ombrix" >"$work/ombrix.log" 2>&1 &
ombrix_pid=$!
if ! ombrix_wait_for 60 xdotool search --onlyvisible --name '^Ombrix'; then
  echo "soak: ombrix did not show its window" >&2
  exit 1
fi
window=$(xdotool search --onlyvisible --name '^Ombrix' | head -n 1)

seed=${OMBRIX_SOAK_SEED:-$$}
RANDOM=$seed
rss() { awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$ombrix_pid/status"; }
samples=()
actions=0 moves=0 frames=0 clicks=0 drags=0 resizes=0 keys=0
end=$((SECONDS + minutes * 60))
next_sample=$SECONDS
# One key to the window, the way a user gives it: focus first.
press() {
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  xdotool key "$1"
  keys=$((keys + 1))
}
geometry() {
  xwininfo -id "$window" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { print x, y, w, h }'
}
while [ $SECONDS -lt $end ]; do
  kill -0 "$ombrix_pid" 2>/dev/null || break
  if [ $SECONDS -ge $next_sample ]; then
    samples+=("$(rss)")
    next_sample=$((SECONDS + 2))
  fi
  read -r wx wy ww wh < <(geometry)
  case $((RANDOM % 12)) in
    0 | 1 | 2 | 3 | 4)
      # A move and a rest outside the window: the caption names the cursor once a frame has
      # shown it.
      x=$((RANDOM % 1280)) y=$((RANDOM % 800))
      xdotool mousemove "$x" "$y"
      moves=$((moves + 1))
      if [ "$x" -lt "$wx" ] || [ "$x" -ge $((wx + ww)) ] || [ "$y" -lt "$wy" ] || [ "$y" -ge $((wy + wh)) ]; then
        ombrix_wait_for 10 xdotool search --name "^Ombrix \\[[0-9]+ x [0-9]+\\] - \\[X=$x Y=$y\\]\$" &&
          frames=$((frames + 1))
      fi
      sleep "0.$((RANDOM % 8))"
      ;;
    5 | 6)
      # A click somewhere on the window: the panel's boxes, buttons and bars.
      xdotool mousemove $((wx + RANDOM % ww)) $((wy + RANDOM % wh)) click 1
      clicks=$((clicks + 1))
      ;;
    7)
      xdotool mousemove $((wx + RANDOM % ww)) $((wy + RANDOM % wh)) mousedown 1 \
        mousemove_relative -- $((RANDOM % 61 - 30)) $((RANDOM % 61 - 30)) mouseup 1
      drags=$((drags + 1))
      ;;
    8)
      xdotool windowsize "$window" $((160 + RANDOM % 700)) $((160 + RANDOM % 500))
      resizes=$((resizes + 1))
      ;;
    9) press space ;;
    10) press ctrl+c ;;
    11)
      press ctrl+m
      sleep 0.3
      press Escape
      ;;
  esac
  actions=$((actions + 1))
done

status=0
if ! kill -0 "$ombrix_pid" 2>/dev/null; then
  echo "soak: ombrix ended during the run (seed $seed); its output:" >&2
  tail -20 "$work/ombrix.log" >&2
  status=1
fi
# Reports whose stack passes through our sources are ours; the others are listed only.
ours=0
for report in "$work"/asan.* "$work"/ubsan.*; do
  [ -e "$report" ] || continue
  if grep -q "$repo/\(app\|ui\|stages\|platform\|imaging\)/" "$report"; then
    ours=$((ours + 1))
    echo "soak: sanitizer report in our code (seed $seed):" >&2
    head -40 "$report" >&2
  else
    echo "soak: sanitizer report outside our code (not counted): $(grep -m1 -E 'ERROR|runtime error' "$report")" >&2
  fi
done
[ $ours -eq 0 ] || status=1

# Growth: after a warm-up of a quarter of the run, the last quarter's median may not exceed
# the second quarter's by more than a fifth plus 16 MB. A short run has not reached its plateau
# after a quarter (the first resize to the largest window and the first sharpened frames still
# lie ahead, some 30 MB under the sanitizers), so it allows 48 MB instead: it is there to catch
# runaway growth, the long run to catch a slow leak.
n=${#samples[@]}
first=${samples[0]:-0} last=${samples[$((n - 1))]:-0} max=0
for s in "${samples[@]}"; do [ "$s" -gt "$max" ] && max=$s; done
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
if [ "$n" -ge 8 ]; then
  q=$((n / 4))
  early=$(median "${samples[@]:$q:$q}")
  late=$(median "${samples[@]:$((n - q)):$q}")
  slack=16
  [ "$minutes" -lt 10 ] && slack=48
  if [ "$late" -gt $((early + early / 5 + slack)) ]; then
    echo "soak: memory keeps growing: ${early} MB -> ${late} MB (samples: ${samples[*]})" >&2
    status=1
  fi
fi
echo "soak: ${minutes} min, seed $seed, $actions actions ($moves moves, $frames frames shown" \
  "after a rest, $clicks clicks, $drags drags, $resizes resizes, $keys keys)," \
  "RSS first/last/max ${first}/${last}/${max} MB over $n samples, $ours findings in our code"
exit $status
