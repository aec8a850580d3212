#!/usr/bin/env bash
# Builds the .deb with cpack, checks its control fields, unpacks it into a scratch
# root with dpkg-deb -x and runs the tool from there.
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

# Debian's own checker: no error and no warning.
if command -v lintian >/dev/null; then
  report=$(lintian "$deb" 2>/dev/null) || true
  grep -E '^[EW]: ' <<<"$report" && fail "lintian reports the lines above"
fi
mkdir "$root/maps"
"$build/gensample" 40 40 9 "$root/maps/w.wld"
(cd "$root/maps" && PATH="$root/unpacked/usr/bin:/usr/bin:/bin" wldmap w.wld </dev/null \
  >"$root/out" 2>"$root/err") || fail "the packaged tool failed: $(cat "$root/err")"
grep -qx 'Done!' "$root/out" || fail "no Done!"
[ -s "$root/maps/Sample.png" ] || fail "no map written"
echo "deb package: ok"
