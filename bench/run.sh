#!/usr/bin/env bash
# Builds wldmap in Release mode, runs the end-to-end benchmark, the browser
# page's (bench/page.py) and the watch's (bench/watch.py), and writes
# docs/performance.md. Sample worlds are kept in bench/worlds between runs.
#   bash bench/run.sh [REPETITIONS]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh chromium chromium-driver python3-selenium firefox-esr
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" >/dev/null
build-bench/wldmap_bench build-bench/wldmap build-bench/gensample bench/worlds "${1:-7}" \
  docs/performance.md
# The browser page, on every world and more closely on the largest: its section of
# the report is kept below the hand-written part, and rewritten here.
/usr/bin/python3 bench/page.py build-bench/wldmap docs/performance.md bench/worlds
# The watch: idle for a minute, renders of the largest sample, a thousand saves.
/usr/bin/python3 bench/watch.py build-bench/wldmap docs/performance.md \
  bench/worlds/sample/8400x2400/world.wld bench/worlds/sample/1000x500/world.wld
