#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks the installed files, and runs
# the installed tool by its bare name from PATH in a folder holding only a world.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$root/prefix" >/dev/null
for file in bin/wldmap share/wldmap/tilecolors.txt share/man/man1/wldmap.1 \
            share/applications/wldmap.desktop share/mime/packages/wldmap.xml \
            share/thumbnailers/wldmap.thumbnailer; do
  [ -f "$root/prefix/$file" ] || fail "$file is not installed"
done
[ -x "$root/prefix/bin/wldmap" ] || fail "bin/wldmap is not executable"

desktop=$root/prefix/share/applications/wldmap.desktop
grep -qx 'Exec=wldmap %F' "$desktop" || fail "the desktop entry does not run wldmap on every file opened"
grep -qx 'Terminal=true' "$desktop" || fail "the desktop entry does not open a terminal"
grep -qx 'Exec=wldmap --html --open %f' "$desktop" || fail "the desktop entry has no Explore action"
grep -q 'application/x-wldmap-world' "$desktop" || fail "the desktop entry lacks the world type"
grep -q '<glob pattern="\*.wld"/>' "$root/prefix/share/mime/packages/wldmap.xml" ||
  fail "the mime type does not match *.wld"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
thumbnailer=$root/prefix/share/thumbnailers/wldmap.thumbnailer
for line in '[Thumbnailer Entry]' 'TryExec=wldmap' 'Exec=wldmap --thumbnail %s %i %o' \
            'MimeType=application/x-wldmap-world;'; do
  grep -qxF "$line" "$thumbnailer" || fail "the thumbnailer lacks $line"
done
man_text=$(MANWIDTH=80 man -l "$root/prefix/share/man/man1/wldmap.1" 2>&1)
for section in "EXIT STATUS" "TILE COLOURS" "EXAMPLE" "Saving image as"; do
  grep -q "$section" <<<"$man_text" || fail "the man page lacks $section"
done

mkdir "$root/maps"
"$build/gensample" 64 48 5 "$root/maps/my.wld"
(cd "$root/maps" && PATH="$root/prefix/bin:/usr/bin:/bin" wldmap my.wld </dev/null \
  >"$root/out" 2>"$root/err") || fail "the installed tool failed: $(cat "$root/err")"
expected=$'Parsing header\nReading world\nLoading colors\nGenerating image\nSaving image as Sample.png\nDone!'
[ "$(cat "$root/out")" = "$expected" ] || fail "unexpected output: $(cat "$root/out")"
[ "$(ls "$root/maps" | tr '\n' ' ')" = "Sample.png my.wld " ] || fail "unexpected files: $(ls "$root/maps")"
echo "install tree: ok"
