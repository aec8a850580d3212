#!/usr/bin/env bash
# Installs the build into a scratch prefix, registers its types there, and has
# Debian's thumbnail service (tumbler, as Thunar and other file managers use
# it) make thumbnails of worlds on a private session bus: queued through its
# D-Bus interface, run through the installed wldmap.thumbnailer, and checked in
# the service's own cache by tumbler_client.py.
#   thumbnailer_test.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tumblerd=$(dpkg -L tumbler 2>/dev/null | grep '/tumblerd$' | head -n 1 || true)
if [ -z "$tumblerd" ] || ! command -v dbus-run-session >/dev/null ||
   ! command -v update-mime-database >/dev/null ||
   ! /usr/bin/python3 -c 'import gi, PIL' 2>/dev/null; then
  echo "needs tumbler, dbus, shared-mime-info, python3-gi and python3-pil"
  exit 77
fi
source "$here/scratch_prefix.sh"
export HOME=$root/home XDG_CACHE_HOME=$root/cache XDG_DATA_HOME=$root/home/.local/share
export XDG_DATA_DIRS=$root/prefix/share:/usr/share PATH=$root/prefix/bin:$PATH

# Worlds where users keep them: a deep folder with spaces and a non-ASCII name.
worlds="$root/home/Saved Worlds/Mäps of the old server/2026 backups"
good=() bad=()
for world in "wide 900 300" "tall 200 500" "small 100 60" "odd 383 97" "narrow 1 40" \
            "large 8400 2400"; do
  read -r name width height <<<"$world"
  mkdir -p "$worlds/$name"
  "$build/gensample" "$width" "$height" 3 "$worlds/$name/$name world.wld"
  (cd "$worlds/$name" && "$root/prefix/bin/wldmap" "$name world.wld" </dev/null >/dev/null) ||
    fail "no map of $name"
  good+=("$worlds/$name/$name world.wld:$worlds/$name/Sample.png")
done
head -c 300 "$worlds/wide/wide world.wld" >"$worlds/damaged world.wld"
bad+=("$worlds/damaged world.wld")

dbus-run-session -- /usr/bin/python3 "$here/tumbler_client.py" "$tumblerd" 128 "${good[@]}" -- \
  "${bad[@]}"
echo "thumbnails through tumbler: ok"
