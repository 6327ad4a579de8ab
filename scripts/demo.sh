#!/usr/bin/env bash
# The demo of run.sh: on a virtual display, shows a test picture, runs Ombrix with the cursor
# resting on the picture, waits until Ombrix shows it, switches the cross-line on in its panel,
# saves a screenshot and prints its path. The screenshot is the one file the demo leaves, in the
# temporary folder ($TMPDIR, or /tmp) as ombrix-demo.XXXXXX.png.
#   scripts/demo.sh path/to/ombrix
set -euo pipefail
ombrix=$(realpath "$1")
cd "$(dirname "$0")/.."
. scripts/xsession.sh

work=$(mktemp -d -t ombrix-demo.XXXXXX)
picture_pid=
ombrix_pid=
cleanup() {
  [ -n "$ombrix_pid" ] && kill "$ombrix_pid" 2>/dev/null
  [ -n "$picture_pid" ] && kill "$picture_pid" 2>/dev/null
  ombrix_stop_xsession
  rm -rf "$work"
}
trap cleanup EXIT

ombrix_start_xsession 1600x1000x24
export DISPLAY=$OMBRIX_X11_DISPLAY

# A picture with colours, edges and text, at the top-left of the screen.
convert -size 480x360 gradient:gold-navy \
  -fill crimson -draw "circle 240,180 240,90" \
  -fill white -draw "rectangle 40,250 440,300" \
  -fill black -font DejaVu-Sans -pointsize 34 -annotate +60+290 "Ombrix demo picture" \
  "$work/picture.png"
display -title "Demo picture" -geometry +20+20 "$work/picture.png" &
picture_pid=$!
ombrix_wait_for 20 xdotool search --name "^Demo picture$"

# The cursor rests on the picture; Ombrix opens at the screen's centre, clear of it.
xdotool mousemove 260 200
"$ombrix" &
ombrix_pid=$!

# The caption names the cursor's place only after a frame has been captured and drawn; the
# drawing went to the X server before the caption did.
if ! ombrix_wait_for 20 xdotool search --name '^Ombrix \[[0-9]+ x [0-9]+\] - \[X=260 Y=200\]$'; then
  echo "Ombrix did not show the picture in time" >&2
  exit 1
fi

# The user switches the cross-line on: over the window the control panel comes up, and its
# "+" box sits at (8, 284) of the 154 x 369 panel that is centred in the client area.
window=$(xdotool search --onlyvisible --name '^Ombrix' | head -n 1)
read -r client_x client_y client_w client_h < <(xwininfo -id "$window" | awk '
  /Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
  /Width:/ { w = $2 } /Height:/ { h = $2 } END { print x, y, w, h }')
panel_x=$((client_x + client_w / 2 - 77))
panel_y=$((client_y + client_h / 2 - 184))
xdotool mousemove $((panel_x + 20)) $((panel_y + 20))
if ! ombrix_wait_for 20 xdotool search --name "^Ombrix \[[0-9]+ x [0-9]+\] - \[X=$((panel_x + 20)) Y="; then
  echo "Ombrix did not show its panel in time" >&2
  exit 1
fi
xdotool mousemove $((panel_x + 18)) $((panel_y + 294)) click 1
xdotool mousemove 260 200
if ! ombrix_wait_for 20 xdotool search --name '^Ombrix \[[0-9]+ x [0-9]+\] - \[X=260 Y=200\]$'; then
  echo "Ombrix did not come back to the picture in time" >&2
  exit 1
fi

# Taken inside the work folder, then moved out of it: a failed shot leaves nothing behind.
import -window root "$work/ombrix-demo.png"
shot=$(mktemp --tmpdir --suffix=.png ombrix-demo.XXXXXX)
mv "$work/ombrix-demo.png" "$shot"
echo "$shot"
