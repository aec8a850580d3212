#!/usr/bin/env bash
# Unpacks the Windows zip as a user would and runs the exe inside it once under
# Wine, as a drop starts it: full Windows paths for the program and the world, the
# current folder elsewhere, a folder name with a space and a non-ASCII letter.
#   bash tools/windows-smoke.sh build-windows/wldmap-<version>-win64.zip
# Needs WINEPREFIX with a running server (tools/build-windows.sh sets one up).
set -euo pipefail
zip=$(realpath "$1")
build=$(dirname "$zip")
export WINEDEBUG=-all

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows() { printf 'Z:%s' "${1//\//\\}"; }  # Wine's Z: drive is the Unix root

mkdir -p "$work/Desktop/wldmap" "$work/Worlds/Mäps 1" "$work/elsewhere"
# CMake unpacks zips itself; no unzip is needed.
(cd "$work/Desktop/wldmap" && cmake -E tar xf "$zip")
folder=$(find "$work/Desktop/wldmap" -mindepth 1 -maxdepth 1 -type d)
listing=$(cd "$folder" && ls)
[ "$listing" = "$(printf 'LICENSE.txt\nMANUAL.txt\nREADME.txt\nregister.cmd\ntilecolors.txt\nunregister.cmd\nwldmap-explore.cmd\nwldmap-thumbnails.dll\nwldmap.exe')" ] ||
  { echo "the zip's folder holds: $listing" >&2; exit 1; }

world="$work/Worlds/Mäps 1/my world.wld"
(cd "$work" && wine "$(windows "$build/gensample.exe")" 400 300 7 sample.wld </dev/null >/dev/null)
mv "$work/sample.wld" "$world"

expected="Parsing header
Reading world
Loading colors
Generating image
Saving image as $(windows "$work/Worlds/Mäps 1/Sample.png")
Done!"
# The second drop replaces the first map in place.
for drop in first second; do
  (cd "$work/elsewhere" &&
     wine "$(windows "$folder/wldmap.exe")" "$(windows "$world")" </dev/null >"$work/out" 2>"$work/err")
  if [ "$(tr -d '\r' <"$work/out")" != "$expected" ] || [ -s "$work/err" ]; then
    echo "unexpected output from the unpacked wldmap.exe ($drop drop):" >&2
    cat "$work/out" "$work/err" >&2
    exit 1
  fi
  [ "$(head -c 8 "$work/Worlds/Mäps 1/Sample.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
    { echo "no PNG map beside the world" >&2; exit 1; }
  [ "$(ls "$work/Worlds/Mäps 1" | tr '\n' '|')" = "Sample.png|my world.wld|" ] ||
    { echo "unexpected files beside the world: $(ls "$work/Worlds/Mäps 1")" >&2; exit 1; }
done
echo "windows smoke: the unpacked wldmap.exe mapped a dropped world twice"
