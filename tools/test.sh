#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the suite in a normal
# build and again under AddressSanitizer and UndefinedBehaviorSanitizer, then each
# fuzz target for WLDMAP_FUZZ_SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh clang libclang-rt-14-dev desktop-file-utils dpkg-dev file man-db
jobs=$(nproc)

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWLDMAP_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== sanitizer build"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWLDMAP_SANITIZE=ON \
  -DWLDMAP_TESTS=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize -j "$jobs" --output-on-failure

echo "== fuzzing"
bash fuzz/run.sh "${WLDMAP_FUZZ_SECONDS:-60}"
