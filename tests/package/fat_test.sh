#!/usr/bin/env bash
# Maps and thumbnails on a FAT file system through FUSE (fusefat), as on a
# stick: no modes, no links, no files without a name, a truncate that refuses
# what changes nothing. Every output is whole, no warning is printed, and an
# older output is replaced whole. A watch, told of no changes there, looks for
# them itself, maps each save and finds a new world. Skipped (77) where fusefat cannot mount.
#   fat_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in fusefat mkfs.vfat; do
  command -v "$tool" >/dev/null || { echo "needs fusefat and dosfstools: no $tool"; exit 77; }
done
root=$(mktemp -d)
mnt=$root/mnt
watch=
cleanup() {
  [ -z "$watch" ] || kill -KILL "$watch" 2>/dev/null || true
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

# A watch of the stick polls it, and maps a save it finds.
rm -f ./*.png
"$build/wldmap" --watch --settle 0.2 --poll 0.2 . >"$root/watch" 2>"$root/err" &
watch=$!
for _ in $(seq 100); do [ -f Sample.png ] && break; sleep 0.1; done
first=$(md5sum <Sample.png)
rm w.wld  # saved anew: this FAT cannot cut a file back to nothing
"$build/gensample" 240 160 4 w.wld
for _ in $(seq 100); do [ "$(md5sum <Sample.png)" != "$first" ] && break; sleep 0.1; done
cp w.wld n.wld  # a world new on the stick, found by a look: its map would be w.wld's
for _ in $(seq 100); do grep -q "would be" "$root/err" && break; sleep 0.1; done
kill -TERM "$watch"
wait "$watch" || fail "the watch ended with status $?"
watch=
grep -qx '.: this file system does not tell of changes; it is looked at every 0.2 s' "$root/watch" ||
  fail "the watch did not say it polls: $(cat "$root/watch")"
[ "$(grep -c '^Done!$' "$root/watch")" = 2 ] || fail "not two maps: $(cat "$root/watch") $(cat "$root/err")"
[ "$(cat "$root/err")" = "warning: ./n.wld: its map, ./Sample.png, would be ./w.wld's too; it is not watched" ] ||
  fail "the new world was not found: $(cat "$root/err")"
(cd "$root" && "$build/gensample" 240 160 4 w.wld && "$build/wldmap" w.wld </dev/null >/dev/null)
cmp -s Sample.png "$root/Sample.png" || fail "the watch's map is not the save's"
[ "$(ls | tr '\n' ' ')" = "Sample.png n.wld w.wld " ] || fail "unexpected files: $(ls)"
echo "fat through fuse: ok"
