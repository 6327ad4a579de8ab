# Sourced by run.sh and test.sh: installs the Debian packages a step needs when they are missing.
# ombrix_need_packages PKG... : installs what is missing (as root), or prints the apt-get line and fails.

OMBRIX_BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
  libbenchmark-dev libjpeg62-turbo-dev libpng-dev libxcb1-dev libxcb-shm0-dev
  libxcb-composite0-dev libxcb-render0-dev libxcb-render-util0-dev libxcb-xfixes0-dev
  libxcb-shape0-dev libxcb-randr0-dev libxcb-xinerama0-dev libxcb-damage0-dev libxcb-xinput-dev libxcb-xtest0-dev
  libcups2-dev libpipewire-0.3-dev libsystemd-dev"
OMBRIX_TEST_PACKAGES="xvfb xdotool imagemagick openbox x11-utils fonts-dejavu-core
  weston xwayland desktop-file-utils appstream man-db file dpkg-dev xclip
  cups-daemon poppler-utils xdg-utils
  mutter pipewire wireplumber dbus libgl1-mesa-dri xdg-desktop-portal xdg-desktop-portal-gnome
  python3-gi gir1.2-gtk-4.0 python3-dbus"
# scripts/fuzz.sh: clang and its libFuzzer runtime
OMBRIX_FUZZ_PACKAGES="clang libclang-rt-14-dev imagemagick"

ombrix_need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Ombrix needs these Debian packages; please run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
