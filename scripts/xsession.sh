# Sourced: a private virtual X display with a window manager, for the x11 tests and the demo.
# ombrix_start_xsession [WxHxD]  exports OMBRIX_X11_DISPLAY.
# ombrix_stop_xsession            stops what the start began; safe to call twice.
# ombrix_wait_for SECONDS CMD...  waits up to SECONDS for CMD to succeed (silently).

ombrix_start_xsession() {
  local geometry=${1:-1600x1000x24} number_file n=
  # Xvfb picks a free display itself, under its own lock, and writes the number once it
  # listens: a display chosen by looking first could be taken meanwhile by another run, whose
  # server this run would then use and see vanish when that run ends.
  number_file=$(mktemp) || return 1
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset 3>"$number_file" \
    >/dev/null 2>&1 &
  OMBRIX_XVFB_PID=$!
  local deadline=$((SECONDS + 20))
  while [ $SECONDS -lt $deadline ] && kill -0 "$OMBRIX_XVFB_PID" 2>/dev/null; do
    # The number is complete with its newline.
    if [ "$(wc -l <"$number_file")" -ge 1 ]; then
      n=$(head -n 1 "$number_file")
      break
    fi
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -z "$n" ]; then
    echo "Could not start a virtual X display" >&2
    ombrix_stop_xsession
    return 1
  fi
  export OMBRIX_X11_DISPLAY=":$n"
  DISPLAY=":$n" openbox >/dev/null 2>&1 &
  OMBRIX_WM_PID=$!
  # Ready when the window manager has claimed the screen.
  while [ $SECONDS -lt $deadline ]; do
    DISPLAY=":$n" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  echo "The window manager did not start on the virtual X display" >&2
  ombrix_stop_xsession
  return 1
}

ombrix_stop_xsession() {
  if [ -n "${OMBRIX_WM_PID:-}" ]; then
    kill "$OMBRIX_WM_PID" 2>/dev/null || true
  fi
  if [ -n "${OMBRIX_XVFB_PID:-}" ]; then
    kill "$OMBRIX_XVFB_PID" 2>/dev/null || true
    # Gone, with its lock, before the caller goes on.
    wait "$OMBRIX_XVFB_PID" 2>/dev/null || true
  fi
  OMBRIX_WM_PID=
  OMBRIX_XVFB_PID=
  return 0
}

ombrix_wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
