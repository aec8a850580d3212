#!/usr/bin/env bash
# A new user's first build: the default preset, with a flag that raises warnings
# in the tool's own code (as a newer compiler's new warnings would), still
# builds. Installed with another data folder, then moved elsewhere, the tool
# finds its colours from its own folder and maps a world from any folder.
#   relocated_install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1
build=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$source" -B "$root/build" --preset default -DWLDMAP_TESTS=OFF -DWLDMAP_KDE=OFF \
  -DCMAKE_CXX_FLAGS=-Wpadded -DCMAKE_INSTALL_DATADIR=share/other >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target wldmap >"$root/log" 2>&1 ||
  fail "a warning stopped the default build: $(grep -m 3 'error' "$root/log")"
grep -q 'warning: .*-Wpadded' "$root/log" || fail "-Wpadded raised no warning: nothing was tried"

cmake --install "$root/build" --prefix "$root/prefix" --component wldmap >/dev/null
[ -f "$root/prefix/share/other/wldmap/tilecolors.txt" ] || fail "the colours are not in share/other"
mv "$root/prefix" "$root/moved"
mkdir "$root/maps"
"$build/gensample" 64 48 5 "$root/maps/my.wld"
(cd "$root/maps" && "$root/moved/bin/wldmap" my.wld </dev/null >"$root/out" 2>"$root/err") ||
  fail "the moved tool failed: $(cat "$root/err")"
[ -f "$root/maps/Sample.png" ] || fail "no map: $(cat "$root/out")"
echo "relocated install: ok"
