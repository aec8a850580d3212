#!/usr/bin/env bash
# Checks that the packages are reproducible: the .debs made in two Linux build
# trees (different folders, built at different times) and the Windows zip made a
# second time in a folder of its own are the same bytes as the first.
#   bash tools/check-reproducible.sh LINUX_BUILD LINUX_BUILD_AGAIN
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "not reproducible: $*" >&2; exit 1; }

for build in "$1" "$2"; do
  mkdir -p "$work/$(basename "$build")"
  (cd "$build" && cpack -G DEB -B "$work/$(basename "$build")" >/dev/null)
done
for first in "$work/$(basename "$1")"/*.deb; do
  second=$work/$(basename "$2")/$(basename "$first")
  cmp "$first" "$second" || fail "$(basename "$first") of $1 and of $2 differ"
  echo "reproducible: $(basename "$first") ($(sha256sum <"$first" | cut -c1-16)) from $1 and $2"
done

bash tools/build-windows.sh --out build-windows-again >/dev/null
zip=$(ls build-windows/wldmap-*-win64.zip)
again=build-windows-again/$(basename "$zip")
cmp "$zip" "$again" || fail "$zip and $again differ"
echo "reproducible: $(basename "$zip") ($(sha256sum <"$zip" | cut -c1-16)) from two Windows builds"
