#!/usr/bin/env bash
# Maps and thumbnails on a FAT file system through FUSE (fusefat), as on a
# stick: no modes, no links, no files without a name, a truncate that refuses
# what changes nothing. Every output is whole, no warning is printed, and an
# older output is replaced whole. Skipped (77) where fusefat cannot mount.
#   fat_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in fusefat mkfs.vfat; do
  command -v "$tool" >/dev/null || { echo "needs fusefat and dosfstools: no $tool"; exit 77; }
done
root=$(mktemp -d)
mnt=$root/mnt
cleanup() {
  cd /
  umount "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || true
  rm -rf "$root" || true
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir "$mnt"
truncate -s 16M "$root/fat.img"
mkfs.vfat "$root/fat.img" >/dev/null
fusefat -o rw+ "$root/fat.img" "$mnt" >/dev/null 2>&1 || { echo "fusefat cannot mount here"; exit 77; }

"$build/gensample" 240 160 3 "$mnt/w.wld"
cd "$mnt"
"$build/wldmap" w.wld </dev/null >/dev/null 2>"$root/err" || fail "the map failed: $(cat "$root/err")"
"$build/wldmap" w.wld </dev/null >/dev/null 2>>"$root/err" || fail "the map again failed: $(cat "$root/err")"
head -c 5000 /dev/urandom >older.png
printf abc >three.png
: >empty.png
for output in new.png older.png three.png empty.png; do
  "$build/wldmap" --thumbnail 64 w.wld "$output" 2>>"$root/err" ||
    fail "the thumbnail into $output failed: $(cat "$root/err")"
  cmp -s "$output" new.png || fail "$output is not the thumbnail"
done
[ ! -s "$root/err" ] || fail "warnings: $(cat "$root/err")"
[ "$(ls | tr '\n' ' ')" = "Sample.png empty.png new.png older.png three.png w.wld " ] ||
  fail "unexpected files: $(ls)"
echo "fat through fuse: ok"
