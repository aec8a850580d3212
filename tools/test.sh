#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the Windows build and
# its suite under Wine, the suite in a normal build with GCC (with the Windows
# build's map compared against it) and again with Clang in the portable build
# under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded parts under
# ThreadSanitizer, then each fuzz target for WLDMAP_FUZZ_SECONDS (default 60). The
# normal build's suite includes the browser page in headless Chromium, the
# thumbnailer run by tumbler on a private D-Bus,
# the KDE plugin run by KIO's preview job, and Explorer's thumbnail provider run
# through COM under Wine against its thumbnails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh clang libclang-rt-14-dev desktop-file-utils dpkg-dev file lintian man-db \
  strace tumbler dbus shared-mime-info python3-gi python3-pil libkf5kio-dev kio-extras \
  chromium chromium-driver python3-selenium fusefat dosfstools firefox-esr systemd
jobs=$(nproc)
# Each stage's heading says how far into the run it starts.
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "windows build, tests under wine"
bash tools/build-windows.sh --test

stage "normal build"
source tools/wine-session.sh
# The strict preset: the default tree, with a warning in the tool's own code an error.
cmake --preset strict -DWLDMAP_WINDOWS_EXE="$(pwd)/build-windows/wldmap.exe" >/dev/null
cmake --build --preset strict -j "$jobs"
ctest --preset strict -j "$jobs"

stage "the tool alone, without GoogleTest; the packages built twice are the same"
cmake --preset minimal -DWLDMAP_WERROR=ON >/dev/null
cmake --build --preset minimal -j "$jobs" >/dev/null
[ -x build-minimal/wldmap ] && [ -f build-minimal/tilecolors.txt ] && [ ! -e build-minimal/tests ]
bash tools/check-reproducible.sh build build-minimal

# The second compiler, and the plain code paths that the portable build keeps
# (no vectors, no prefetch, no MADV_POPULATE_WRITE, no /proc/self/exe).
stage "sanitizer build: clang, portable"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

stage "thread sanitizer: the reader's helper and the painter thread"
cmake --preset threads >/dev/null
cmake --build --preset threads -j "$jobs"
ctest --preset threads -j "$jobs"

stage "fuzzing"
bash fuzz/run.sh "${WLDMAP_FUZZ_SECONDS:-60}"
stage "all passed"
