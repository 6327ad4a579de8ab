#!/usr/bin/env bash
# Runs a command inside a private, headless GNOME Wayland session, then stops the session:
#   scripts/gnome-session.sh [--no-portal] [--fractional-scaling] [--monitor WxH]... -- COMMAND...
# The session: a D-Bus session bus of its own, PipeWire and WirePlumber, mutter as a headless
# Wayland compositor with Xwayland (one virtual monitor per --monitor, 1280x800 by default), and
# the desktop portal with its GNOME backend (left out with --no-portal: the bus then cannot
# start them either). --fractional-scaling lets monitors be scaled by fractions (mutter's
# scale-monitor-framebuffer: logical layout, X11 clients in logical pixels). The command gets WAYLAND_DISPLAY, DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR,
# HOME and the bus address of that session; the exit status is the command's.
#
# Everything runs in namespaces of its own (mount, network, process ids): /tmp is a private
# tmpfs, so Xwayland's display number, its lock file and its sockets (abstract ones live in the
# network namespace) can never meet another X server of the machine, and when the command ends
# every process the session started ends with it. Needs root (or user namespaces).
set -euo pipefail

if [ "${OMBRIX_GNOME_INSIDE:-}" = "" ]; then
  # Stage 1: enter the namespaces; the new process-id namespace's first process is this script.
  export OMBRIX_GNOME_INSIDE=namespace
  exec unshare --mount --net --pid --fork --mount-proc --propagation private -- "$0" "$@"
fi

portal=yes
fractional=no
monitors=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-portal) portal=no ;;
    --fractional-scaling) fractional=yes ;;
    --monitor) monitors+=("$2"); shift ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: $0 [--no-portal] [--fractional-scaling] [--monitor WxH]... -- COMMAND..." >&2; exit 2; }
[ ${#monitors[@]} -gt 0 ] || monitors=(1280x800)

log() { echo "gnome-session: $*" >&2; }
# wait_for SECONDS WHAT CMD...: waits for CMD to succeed, or says what did not come and fails.
wait_for() {
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then
      log "$what did not come within the deadline"
      return 1
    fi
    sleep 0.05
  done
}

if [ "$OMBRIX_GNOME_INSIDE" = namespace ]; then
  # Stage 2: a private /tmp and runtime folder, then a bus of our own.
  # A checkout, or the folder we run in, may itself live under /tmp: keep both reachable
  # through the new /tmp by binding them back from the old one.
  keep=()
  for path in "$(cd "$(dirname "$0")/.." && pwd)" "$PWD"; do
    case $path in /tmp/*) keep+=("$path") ;; esac
  done
  if [ ${#keep[@]} -gt 0 ]; then
    old_tmp=$(mktemp -d /run/ombrix-old-tmp.XXXXXX 2>/dev/null || mktemp -d /var/tmp/ombrix-old-tmp.XXXXXX)
    mount --bind /tmp "$old_tmp"
  fi
  mount -t tmpfs -o mode=1777 ombrix-tmp /tmp
  for path in "${keep[@]}"; do
    mkdir -p "$path"
    mount --bind "$old_tmp${path#/tmp}" "$path"
  done
  # Xwayland refuses a socket folder that is not world-writable and sticky.
  mkdir -m 1777 /tmp/.X11-unix /tmp/.ICE-unix
  export XDG_RUNTIME_DIR=/tmp/runtime HOME=/tmp/home
  mkdir -m 0700 "$XDG_RUNTIME_DIR" "$HOME"
  unset XDG_STATE_HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME DISPLAY WAYLAND_DISPLAY \
    XAUTHORITY DBUS_SESSION_BUS_ADDRESS
  # The services the bus may start: all of the machine's, less the portal's without it.
  services=/tmp/bus-services
  mkdir "$services"
  for f in /usr/share/dbus-1/services/*.service; do
    case "$(basename "$f")" in
      org.freedesktop.portal.*|org.freedesktop.impl.portal.*) [ $portal = yes ] || continue ;;
    esac
    ln -s "$f" "$services/"
  done
  cat >/tmp/bus.conf <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  export OMBRIX_GNOME_INSIDE=bus OMBRIX_GNOME_PORTAL=$portal OMBRIX_GNOME_FRACTIONAL=$fractional
  export OMBRIX_GNOME_MONITORS="${monitors[*]}"
  mkdir /tmp/logs
  # What the bus and the services it starts say goes to a log; the command gets our stderr
  # back through descriptor 3.
  exec 3>&2
  exec dbus-run-session --config-file=/tmp/bus.conf -- "$0" -- "$@" 2>/tmp/logs/bus.log
fi

# Stage 3, on the private bus: the compositor and its services, then the command.
if { true >&3; } 2>/dev/null; then exec 2>&3 3>&-; fi
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
logs=/tmp/logs
pipewire >"$logs/pipewire.log" 2>&1 &
# WirePlumber ends at once when PipeWire's socket is not there yet.
wait_for 20 "PipeWire's socket" test -S "$XDG_RUNTIME_DIR/pipewire-0"
wireplumber >"$logs/wireplumber.log" 2>&1 &
if [ "$OMBRIX_GNOME_FRACTIONAL" = yes ]; then
  gsettings set org.gnome.mutter experimental-features "['scale-monitor-framebuffer']"
fi
monitor_args=()
for m in $OMBRIX_GNOME_MONITORS; do monitor_args+=(--virtual-monitor "$m"); done
export WAYLAND_DISPLAY=ombrix-wayland
mutter --wayland --headless "${monitor_args[@]}" --wayland-display="$WAYLAND_DISPLAY" \
  >"$logs/mutter.log" 2>&1 &
mutter_pid=$!
show_logs() {
  local f
  for f in "$logs"/*.log; do
    echo "---- $(basename "$f")" >&2
    tail -n 20 "$f" >&2
  done
}
ready() {
  kill -0 $mutter_pid &&
    test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" &&
    test -S /tmp/.X11-unix/X0 &&
    compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" &&
    busctl --user status org.gnome.Mutter.RemoteDesktop
}
if ! wait_for 60 "mutter with Xwayland" ready; then
  show_logs
  exit 1
fi
# The only X server of this namespace, so always the first number.
export DISPLAY=:0
XAUTHORITY=$(compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" | head -n 1)
export XAUTHORITY
export OMBRIX_GNOME_LOGS=$logs OMBRIX_GNOME_MUTTER_PID=$mutter_pid
# Services the bus starts on demand (the portal) see the display too.
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP \
  XDG_SESSION_TYPE XDG_RUNTIME_DIR HOME
status=0
"$@" || status=$?
if [ $status -ne 0 ] && [ -n "${OMBRIX_GNOME_SHOW_LOGS:-}" ]; then show_logs; fi
exit $status
