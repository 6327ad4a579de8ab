# Sourced: a private virtual X display with a window manager, for the x11 tests and the demo.
# ombrix_start_xsession [WxHxD]  exports OMBRIX_X11_DISPLAY (and DISPLAY when none was set).
# ombrix_stop_xsession            stops what the start began; safe to call twice.
# ombrix_wait_for SECONDS CMD...  waits up to SECONDS for CMD to succeed (silently).

ombrix_start_xsession() {
  local geometry=${1:-1600x1000x24} n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
    OMBRIX_XVFB_PID=$!
    local deadline=$((SECONDS + 20))
    while [ $SECONDS -lt $deadline ]; do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export OMBRIX_X11_DISPLAY=":$n"
        DISPLAY=":$n" openbox >/dev/null 2>&1 &
        OMBRIX_WM_PID=$!
        # Ready when the window manager has claimed the screen.
        while [ $SECONDS -lt $deadline ]; do
          DISPLAY=":$n" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
          sleep 0.1
        done
        return 0
      fi
      kill -0 "$OMBRIX_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "Could not start a virtual X display" >&2
  return 1
}

ombrix_stop_xsession() {
  [ -n "${OMBRIX_WM_PID:-}" ] && kill "$OMBRIX_WM_PID" 2>/dev/null
  [ -n "${OMBRIX_XVFB_PID:-}" ] && kill "$OMBRIX_XVFB_PID" 2>/dev/null
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
