#!/usr/bin/env bash
# Builds the .debs with cpack, checks their control fields, unpacks them into a
# scratch root with dpkg-deb -x and runs the tool from there: wldmap, the tool,
# which depends on nothing of Qt or KDE, and where the KDE plugin is built,
# wldmap-kde.
#   deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$root/package" >/dev/null)
deb=$(ls "$root"/package/wldmap_*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = wldmap ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libpng16-16 libstdc++6 libc6; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
if grep -q -i -E 'qt|kf5' <<<"$depends"; then fail "the tool depends on Qt or KDE: $depends"; fi
# Captured first: grep -q stops at its first match, and under pipefail the writer
# it leaves behind dies of SIGPIPE and fails the pipe.
description=$(dpkg-deb -f "$deb" Description)
grep -q 'PNG map' <<<"$description" || fail "no description"

[ "$(dpkg-deb -f "$deb" Section)" = graphics ] || fail "the section is not graphics"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "the priority is not optional"

dpkg-deb -x "$deb" "$root/unpacked"
[ -f "$root/unpacked/usr/share/wldmap/tilecolors.txt" ] || fail "no colour file in the package"
grep -qx 'Exec=wldmap --thumbnail %s %i %o' "$root/unpacked/usr/share/thumbnailers/wldmap.thumbnailer" ||
  fail "the package carries no thumbnailer"
doc=$root/unpacked/usr/share/doc/wldmap
grep -qx 'License: Expat' "$doc/copyright" || fail "no machine-readable copyright"
grep -q 'Permission is hereby granted' "$doc/copyright" || fail "the copyright lacks the licence"
# Read whole before matching: a reader that stops early would kill the writer.
changelog=$(zcat "$doc/changelog.gz")
[ "${changelog%%$'\n'*}" = "wldmap ($version) unstable; urgency=medium" ] ||
  fail "the changelog does not start with $version"
man=$(zcat "$root/unpacked/usr/share/man/man1/wldmap.1.gz")
grep -q '^\.TH WLDMAP' <<<"$man" || fail "no compressed man page"
# The watch's service for a user, checked by systemd as an instance of it is
# (with the unpacked tool where the system's would be found by its name).
unit="$root/unpacked/usr/lib/systemd/user/wldmap-watch@.service"
[ -f "$unit" ] || fail "the package carries no watch service"
if command -v systemd-analyze >/dev/null; then
  mkdir -m 700 "$root/units" "$root/run"
  sed "s|^ExecStart=wldmap |ExecStart=$root/unpacked/usr/bin/wldmap |" "$unit" >"$root/units/wldmap-watch@srv-worlds.service"
  XDG_RUNTIME_DIR="$root/run" systemd-analyze verify --man=no --user \
    "$root/units/wldmap-watch@srv-worlds.service" || fail "systemd finds fault with the watch service"
fi

# The KDE plugin's package, where it is built: the plugin where Qt finds it,
# the tool's own version for its colours and file type.
kde=$(ls "$root"/package/wldmap-kde_*.deb 2>/dev/null || true)
if [ -n "$kde" ]; then
  [ "$(dpkg-deb -f "$kde" Version)" = "$version" ] || fail "wldmap-kde's version is not $version"
  kde_depends=$(dpkg-deb -f "$kde" Depends)
  for library in "wldmap (= $version)" libkf5kiogui5 libqt5gui5; do
    grep -qF "$library" <<<"$kde_depends" || fail "wldmap-kde's Depends lacks $library: $kde_depends"
  done
  dpkg-deb -x "$kde" "$root/unpacked"
  [ -f "$root/unpacked/usr/lib/x86_64-linux-gnu/qt5/plugins/kf5/thumbcreator/wldmap-thumbnail.so" ] ||
    fail "wldmap-kde carries no plugin where Qt's plugins are"
  grep -qx 'License: Expat' "$root/unpacked/usr/share/doc/wldmap-kde/copyright" ||
    fail "wldmap-kde has no machine-readable copyright"
  zcat "$root/unpacked/usr/share/doc/wldmap-kde/changelog.gz" >/dev/null || fail "wldmap-kde has no changelog"
fi

# Debian's own checker: no error and no warning.
if command -v lintian >/dev/null; then
  for package in "$deb" $kde; do
    report=$(lintian "$package" 2>/dev/null) || true
    grep -E '^[EW]: ' <<<"$report" && fail "lintian reports the lines above"
  done
fi
mkdir "$root/maps"
"$build/gensample" 40 40 9 "$root/maps/w.wld"
(cd "$root/maps" && PATH="$root/unpacked/usr/bin:/usr/bin:/bin" wldmap w.wld </dev/null \
  >"$root/out" 2>"$root/err") || fail "the packaged tool failed: $(cat "$root/err")"
grep -qx 'Done!' "$root/out" || fail "no Done!"
[ -s "$root/maps/Sample.png" ] || fail "no map written"
echo "deb package: ok"
