#!/usr/bin/env bash
# Installs what is missing, builds wldmap with its tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWLDMAP_TESTS=ON >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build -j "$(nproc)" --output-on-failure
