#!/usr/bin/env bash
# Builds wldmap in Release mode, runs the end-to-end benchmark and writes
# docs/performance.md. Sample worlds are kept in bench/worlds between runs.
#   bash bench/run.sh [REPETITIONS]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" >/dev/null
build-bench/wldmap_bench build-bench/wldmap build-bench/gensample bench/worlds "${1:-7}" \
  docs/performance.md
