#!/usr/bin/env bash
# Cross-builds wldmap.exe for 64-bit Windows on Debian 12 and packs the zip:
#   bash tools/build-windows.sh [--test] [--out FOLDER]
# Installs what is missing (MinGW-w64, MinGW zlib, Wine, png++'s headers, groff
# for the manual), builds
# libpng and GoogleTest for Windows from Debian's own sources into
# build-windows/deps/ (kept between runs), builds the tool, and leaves
# build-windows/wldmap.exe, build-windows/wldmap-thumbnails.dll and
# build-windows/wldmap-<version>-win64.zip (or the
# same in FOLDER, with its own deps/).
# With --test it also builds the test programs (holding the tool's code to
# -Werror), runs them under Wine and runs the
# unpacked zip once on a sample world.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
test=OFF
out=$root/build-windows
while [ $# -gt 0 ]; do
  case "$1" in
    --test) test=ON ;;
    --out) out=$(realpath -m "$2"); shift ;;
    *) echo "usage: $0 [--test] [--out FOLDER]" >&2; exit 2 ;;
  esac
  shift
done

tools/install-deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev zip \
  googletest groff-base
jobs=$(nproc)
deps=$out/deps
prefix=$deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake  # for the libraries built from source
mkdir -p "$deps"

# libpng's source, from Debian with Debian's patches, at the version the Linux build
# links. apt-get source needs a deb-src entry beside the machine's deb entries.
add_deb_src() {
  local list=/etc/apt/sources.list.d/wldmap-deb-src
  [ -e "$list.sources" ] || [ -e "$list.list" ] && return 0
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  if [ -e /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${as_root[@]}" tee "$list.sources" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      "${as_root[@]}" tee "$list.list" >/dev/null
  fi
  "${as_root[@]}" apt-get update -qq
}

if [ ! -f "$prefix/lib/libpng16.a" ]; then
  add_deb_src
  rm -rf "$deps/src" && mkdir -p "$deps/src"
  # The version the Linux build links first, then the others the sources list, newest
  # first (a mirror can list a version before it serves it).
  versions=$( (dpkg-query -W -f='${source:Version}\n' libpng-dev
               apt-cache showsrc libpng1.6 | sed -n 's/^Version: //p' | sort -rV) | awk '!seen[$0]++')
  for version in $versions; do
    (cd "$deps/src" && apt-get source -qq "libpng1.6=$version" >/dev/null 2>&1) && break
    rm -rf "${deps:?}/src"/*
  done
  source_dir=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name 'libpng1.6-*' -print -quit)
  [ -n "$source_dir" ] || { echo "apt-get source libpng1.6 failed" >&2; exit 1; }
  echo "Building libpng $version for Windows from Debian's source package"
  cmake -S "$source_dir" -B "$deps/build-libpng" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF \
    -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
    -DSKIP_INSTALL_FILES=ON -DZLIB_USE_STATIC_LIBS=ON >/dev/null
  cmake --build "$deps/build-libpng" -j "$jobs" >/dev/null
  cmake --install "$deps/build-libpng" >/dev/null
fi
# png++ is headers only; a folder of its own keeps the Linux /usr/include out of the
# cross build's search path.
mkdir -p "$prefix/include"
ln -sfn /usr/include/png++ "$prefix/include/png++"

if [ "$test" = ON ] && [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "Building GoogleTest for Windows from /usr/src/googletest"
  cmake -S /usr/src/googletest -B "$deps/build-googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF \
    -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON >/dev/null
  cmake --build "$deps/build-googletest" -j "$jobs" >/dev/null
  cmake --install "$deps/build-googletest" >/dev/null
fi

# The tests and the test discovery run the Windows programs under Wine.
if [ "$test" = ON ]; then source tools/wine-session.sh; fi

# A test build holds the tool's own code to -Werror; a user's build is never
# stopped by a warning that a newer compiler adds.
cmake --preset windows -B "$out" -DCMAKE_FIND_ROOT_PATH="$prefix" -DWLDMAP_TESTS="$test" \
  -DWLDMAP_WERROR="$test" >/dev/null
cmake --build "$out" -j "$jobs"
if [ "$test" = ON ]; then
  ctest --test-dir "$out" -j "$jobs" --output-on-failure
fi

# The zip: one folder, its files in sorted order, with Unix permissions as a
# fresh install has them and the sources' date in UTC, so that one commit gives
# the same bytes wherever and whenever it is built. (CPack's archive generator
# would add them in the order the file system lists them, which differs from
# one file system to another.)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
name=wldmap-$version-win64
zip=$out/$name.zip
rm -rf "$out/zip" "$zip"
cmake --install "$out" --prefix "$out/zip/$name" >/dev/null
chmod -R u=rwX,go=rX "$out/zip"
(cd "$out/zip" && find "$name" -type f | LC_ALL=C sort >../zip-files &&
   TZ=UTC SOURCE_DATE_EPOCH=$(cat "$out/source-date-epoch") \
     cmake -E tar cf "$zip" --format=zip --files-from=../zip-files)
[ -f "$zip" ] || { echo "no zip was made" >&2; exit 1; }

for binary in wldmap.exe wldmap-thumbnails.dll; do
  echo "Imports of $binary:"
  x86_64-w64-mingw32-objdump -p "$out/$binary" | sed -n 's/^\tDLL Name: /  /p'
done
echo "$zip"

if [ "$test" = ON ]; then
  bash tools/windows-smoke.sh "$zip"
fi
