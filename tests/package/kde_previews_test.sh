#!/usr/bin/env bash
# Installs the build into a scratch prefix with the KDE thumbnail plugin, and has
# KIO's own preview job (as Dolphin runs it) make previews of worlds through
# KIO's thumbnail worker, with the plugin found through QT_PLUGIN_PATH and the
# world type through XDG_DATA_DIRS: each must be wldmap --thumbnail's image at
# that size, pixel for pixel; a damaged world, an empty file and a header that
# claims a huge world get none, and the worlds after them still get theirs.
#   kde_previews_test.sh BUILD_DIR
set -euo pipefail
build=$1
client=$build/preview_job_client
if [ ! -x "$client" ] || ! command -v update-mime-database >/dev/null ||
   [ ! -e /usr/lib/x86_64-linux-gnu/qt5/plugins/kf5/kio/thumbnail.so ]; then
  echo "needs the KDE plugin built, kio-extras and shared-mime-info"
  exit 77
fi
source "$(dirname "$0")/scratch_prefix.sh"
plugin=$(find "$root/prefix" -name wldmap-thumbnail.so)
[ -n "$plugin" ] || fail "the plugin is not installed"
export HOME=$root/home XDG_CACHE_HOME=$root/cache XDG_RUNTIME_DIR=$root/runtime
# KDE_DEBUG keeps KCrash from catching a crash of the worker, which strace
# then sees.
export XDG_DATA_DIRS=$root/prefix/share:/usr/share QT_QPA_PLATFORM=offscreen KDE_DEBUG=1
export QT_PLUGIN_PATH=${plugin%/kf5/thumbcreator/*}
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Previews of local files above 1 MiB skipped, as a user may set it in Dolphin:
# the plugin asks for worlds of any size to be shown, since it reads them in
# little memory.
export XDG_CONFIG_HOME=$root/config
mkdir -p "$XDG_CONFIG_HOME" && printf '[PreviewSettings]\nMaximumSize=1048576\n' >"$XDG_CONFIG_HOME/kdeglobals"

# Worlds where users keep them: a deep folder with spaces and a non-ASCII name.
worlds="$root/home/Saved Worlds/Mäps of the old server"
mkdir -p "$worlds"
for world in "wide 900 300" "tall 200 500" "odd 383 97" "narrow 1 40" "large 8400 2400"; do
  read -r name width height <<<"$world"
  "$build/gensample" "$width" "$height" 3 "$worlds/$name.wld"
done
head -c 300 "$worlds/wide.wld" >"$worlds/damaged.wld"
: >"$worlds/empty.wld"
# A header that claims 100000 x 100000 cells, and a handful of bytes after it.
{ head -c 5 "$worlds/odd.wld" | head -c 4; printf '\001W'; head -c 20 /dev/zero
  printf '\240\206\001\000\240\206\001\000'; head -c 200 /dev/zero; } >"$worlds/huge.wld"
for size in 128 256; do
  args=()
  for name in wide damaged tall empty odd huge narrow large; do
    if [ "$name" = damaged ] || [ "$name" = empty ] || [ "$name" = huge ]; then
      args+=("$worlds/$name.wld=")
    else
      "$root/prefix/bin/wldmap" --thumbnail "$size" "$worlds/$name.wld" "$root/$name.$size.png"
      args+=("$worlds/$name.wld=$root/$name.$size.png")
    fi
  done
  # Under strace, which tells when any process of the job, the worker among
  # them, ends by a signal: a world that crashes the worker fails the test
  # even where KIO starts another for the next world.
  tracer=()
  if command -v strace >/dev/null; then tracer=(strace -f -q -e trace=execve,exit_group -o "$root/trace.$size"); fi
  "${tracer[@]}" "$client" "$size" "${args[@]}" 2>"$root/client.err" ||
    fail "the previews at $size are not the thumbnails: $(grep -v XDG_RUNTIME "$root/client.err")"
  if [ -f "$root/trace.$size" ] && grep "killed by" "$root/trace.$size"; then
    fail "a process of the job crashed"
  fi
done
# A request that is not square is answered at its larger side.
"$root/prefix/bin/wldmap" --thumbnail 256 "$worlds/wide.wld" "$root/wide.256x128.png"
"$client" 256x128 "$worlds/wide.wld=$root/wide.256x128.png" 2>"$root/client.err" ||
  fail "the preview at 256 x 128 is not the thumbnail at 256: $(grep -v XDG_RUNTIME "$root/client.err")"
echo "previews through KIO's preview job: ok"
