#!/usr/bin/env bash
# Installs the build into a private prefix and packs it as a Debian package, then checks both:
# exactly the expected files, a valid desktop entry and metainfo, manual pages that render
# without warnings and agree with ombrix-filter --help, and a package with the same files
# that depends on the run-time libraries.
#   install_check.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

expected=$(sort <<'LIST'
bin/ombrix
bin/ombrix-filter
share/applications/org.example.Ombrix.desktop
share/icons/hicolor/128x128/apps/org.example.Ombrix.png
share/icons/hicolor/16x16/apps/org.example.Ombrix.png
share/icons/hicolor/256x256/apps/org.example.Ombrix.png
share/icons/hicolor/32x32/apps/org.example.Ombrix.png
share/icons/hicolor/48x48/apps/org.example.Ombrix.png
share/icons/hicolor/64x64/apps/org.example.Ombrix.png
share/icons/hicolor/scalable/apps/org.example.Ombrix.svg
share/man/man1/ombrix-filter.1
share/man/man1/ombrix.1
share/metainfo/org.example.Ombrix.metainfo.xml
LIST
)

cmake --install "$build" --prefix "$tmp/root" >/dev/null
installed=$(cd "$tmp/root" && find . ! -type d | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "installed files differ: $(diff <(echo "$expected") <(echo "$installed") | tr '\n' ' ')"

desktop-file-validate "$tmp/root/share/applications/org.example.Ombrix.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$tmp/root/share/metainfo/org.example.Ombrix.metainfo.xml" \
  >"$tmp/appstream.log" 2>&1 || { cat "$tmp/appstream.log" >&2; fail "appstreamcli validate"; }
for size in 16 32 48 64 128 256; do
  file "$tmp/root/share/icons/hicolor/${size}x${size}/apps/org.example.Ombrix.png" |
    grep -q "PNG image data, $size x $size," || fail "the ${size} px icon is not $size x $size"
done

for page in ombrix ombrix-filter; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$tmp/root/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

# ombrix-filter's help and its manual page name the same options, filters and exit codes.
filter="$tmp/root/bin/ombrix-filter"
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$tmp/root/share/man/man1/ombrix-filter.1" 2>/dev/null | tr -s ' \n' ' ')
for option in $("$filter" --help | grep -o -- '--[a-z]*' | sort -u); do
  grep -q -- "$option" <<<"$page" || fail "ombrix-filter's manual page lacks $option"
done
while IFS= read -r name; do
  grep -qF "$name" <<<"$page" || fail "ombrix-filter's manual page lacks the filter $name"
done < <("$filter" --list)
for code in 0 1 2; do
  "$filter" --help | grep -q "$code" || fail "ombrix-filter --help lacks exit status $code"
done
ombrix_page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$tmp/root/share/man/man1/ombrix.1" 2>/dev/null)
grep -q -- "--version" <<<"$ombrix_page" || fail "ombrix's manual page lacks --version"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >/dev/null
deb=$(ls "$tmp"/package/ombrix_*.deb)
packed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort)
[ "$packed" = "$expected" ] || fail "packed files differ: $(diff <(echo "$expected") <(echo "$packed") | tr '\n' ' ')"
info=$(dpkg-deb -I "$deb")
grep -q '^ Version: 1.5.2.0$' <<<"$info" || fail "package version"
for library in libqt6widgets6 libqt6gui6 libqt6core6 libxcb1 libxcb-shm0 libxcb-composite0 \
  libjpeg62-turbo libpng16-16; do
  grep '^ Depends:' <<<"$info" | grep -q "$library" || fail "the package does not depend on $library"
done

[ "$failures" -eq 0 ] && echo "install and package: all checks passed"
exit "$failures"
