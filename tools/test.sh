#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the Windows build and
# its suite under Wine, the suite in a normal build with GCC (with the Windows
# build's map compared against it) and again with Clang in the portable build
# under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded parts under
# ThreadSanitizer, then each fuzz target for WLDMAP_FUZZ_SECONDS (default 60). The
# normal build's suite includes the thumbnailer run by tumbler on a private D-Bus,
# and Explorer's thumbnail provider run through COM under Wine against its thumbnails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh clang libclang-rt-14-dev desktop-file-utils dpkg-dev file lintian man-db \
  strace tumbler dbus shared-mime-info python3-gi python3-pil
jobs=$(nproc)
# Each stage's heading says how far into the run it starts.
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "windows build, tests under wine"
bash tools/build-windows.sh --test

stage "normal build"
source tools/wine-session.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWLDMAP_TESTS=ON -DWLDMAP_WERROR=ON \
  -DWLDMAP_WINDOWS_EXE="$(pwd)/build-windows/wldmap.exe" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

stage "the tool alone, without GoogleTest; the packages built twice are the same"
cmake -S . -B build-minimal -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DWLDMAP_WERROR=ON >/dev/null
cmake --build build-minimal -j "$jobs" >/dev/null
[ -x build-minimal/wldmap ] && [ -f build-minimal/tilecolors.txt ] && [ ! -e build-minimal/tests ]
bash tools/check-reproducible.sh build build-minimal

# The second compiler, and the plain code paths that the portable build keeps
# (no vectors, no prefetch, no MADV_POPULATE_WRITE, no /proc/self/exe).
stage "sanitizer build: clang, portable"
cmake -S . -B build-sanitize -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWLDMAP_SANITIZE=ON -DWLDMAP_PORTABLE=ON -DWLDMAP_TESTS=ON -DWLDMAP_WERROR=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize -j "$jobs" --output-on-failure

stage "thread sanitizer: the reader's helper and the painter thread"
# Without the copy elision C++17 does not promise, a thread that still holds a
# local object a function returns by value is caught too.
cmake -S . -B build-threads -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWLDMAP_SANITIZE_THREADS=ON \
  -DCMAKE_CXX_FLAGS=-fno-elide-constructors -DWLDMAP_TESTS=ON >/dev/null
cmake --build build-threads -j "$jobs" --target wldmap world_test output_test app_test
# Memory peaks and signal timing are not what they are without the sanitizer.
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-threads -j "$jobs" --output-on-failure \
  -R 'WorldTest|PaintAheadTest|OutputTest|EndToEndTest' -E 'Memory|Signal'

stage "fuzzing"
bash fuzz/run.sh "${WLDMAP_FUZZ_SECONDS:-60}"
stage "all passed"
