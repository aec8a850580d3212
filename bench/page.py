"""The browser page's benchmark: for each world, the run with --html against the
same run without it, the page's bytes against the PNG's, and in Debian's
headless Chromium at 1920 x 1080 the time from navigation to `ready`, the median
frame of a scripted pan and zoom, and the memory the page takes. Writes its
section of docs/performance.md (between its two marker lines) and prints it.
    /usr/bin/python3 bench/page.py WLDMAP REPORT WORLD...
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "page"))
import browser  # noqa: E402

BEGIN, END = "<!-- page benchmark -->", "<!-- end of the page benchmark -->"
RUNS = 5


def timed(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def memory_of(profile):
    """The proportional set size, in bytes, of the renderer processes (where a
    page's script, cells and images live) of the browser that runs on
    `profile`: the median of three readings, half a second apart."""
    readings = []
    for _ in range(3):
        time.sleep(0.5)
        readings.append(renderers(profile))
    return statistics.median(readings)


def renderers(profile):
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read()
            if profile.encode() not in command or b"--type=renderer" not in command:
                continue
            with open(f"/proc/{pid}/smaps_rollup") as f:
                total += sum(int(line.split()[1]) * 1024 for line in f if line.startswith("Pss:"))
        except OSError:
            continue
    return total


# A scripted pan and zoom, frame by frame; the median time between frames, in ms.
FRAMES = """
const done = arguments[arguments.length - 1];
const w = window.wldmap, start = w.view, times = [];
let frame = 0, last = 0;
function next(now) {
  if (last) times.push(now - last);
  last = now;
  if (++frame > 240) {
    times.sort((a, b) => a - b);
    return done(times[times.length >> 1]);
  }
  const t = frame / 240;
  w.setView({x: w.world.width * (0.2 + 0.6 * t), y: w.world.height * (0.3 + 0.4 * t),
             zoom: Math.pow(2, 3 * Math.sin(t * Math.PI * 2))});
  requestAnimationFrame(next);
}
requestAnimationFrame(next);
"""


def measure(wldmap, world, folder):
    name = os.path.basename(os.path.dirname(world)) + " " + os.path.basename(os.path.dirname(os.path.dirname(world)))
    copy = os.path.join(folder, "world.wld")
    shutil.copyfile(world, copy)
    plain, html = [], []
    for _ in range(RUNS):
        plain.append(timed([wldmap, "world.wld"], folder))
        html.append(timed([wldmap, "--html", "world.wld"], folder))
    page = next(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".html"))
    png = page[:-len(".html")] + ".png"
    driver = browser.start(1920, 1080, ["--disable-gpu-vsync", "--disable-frame-rate-limit",
                                        "--js-flags=--expose-gc"])
    try:
        driver.get("about:blank")
        blank = memory_of(driver.profile_folder)
        driver.get("file://" + page)
        ready = driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "window.wldmap.ready.then(() => done(performance.now()), (e) => done(String(e)));")
        frame = driver.execute_async_script(FRAMES)
        # What the page holds, once what it let go of is collected.
        driver.execute_script("window.gc(); window.gc();")
        time.sleep(1)
        used = memory_of(driver.profile_folder) - blank
        cells = driver.execute_script("return window.wldmap.world.width * window.wldmap.world.height")
    finally:
        browser.stop(driver)
    return {"world": name, "plain": statistics.median(plain), "html": statistics.median(html),
            "page": os.path.getsize(page), "png": os.path.getsize(png), "ready": ready,
            "frame": frame, "memory": used, "cells": cells * 4}


def main():
    wldmap, report, worlds = sys.argv[1], sys.argv[2], sys.argv[3:]
    rows = []
    for world in worlds:
        with tempfile.TemporaryDirectory() as folder:
            rows.append(measure(os.path.abspath(wldmap), world, folder))
    lines = [BEGIN, "",
             "### The browser page (`bench/page.py`)", "",
             f"Median of {RUNS} runs each of `wldmap WORLD` and `wldmap --html WORLD`, run in turn; the page's",
             "and the map's bytes; in headless Chromium at 1920 x 1080 (software rendering, frame rate",
             "not capped), the time from navigation to `ready`, the median time between frames of a",
             "scripted pan and zoom of 240 frames, and the memory of the browser's renderer processes",
             "with the page open (after a garbage collection) less with a blank page, against the",
             "cells' uncompressed bytes (4 a cell).", "",
             "| world | map (s) | map and page (s) | ratio | page (MB) | PNG (MB) | ratio | ready (ms) "
             "| median frame (ms) | memory (MiB) | cells (MiB) | ratio |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append(f"| {r['world']} | {r['plain']:.3f} | {r['html']:.3f} | {r['html'] / r['plain']:.2f} "
                     f"| {r['page'] / 1e6:.2f} | {r['png'] / 1e6:.2f} | {r['page'] / r['png']:.2f} "
                     f"| {r['ready']:.0f} | {r['frame']:.1f} | {r['memory'] / 2**20:.0f} "
                     f"| {r['cells'] / 2**20:.0f} | {r['memory'] / r['cells']:.2f} |")
    lines += ["", END]
    section = "\n".join(lines) + "\n"
    text = open(report).read() if os.path.exists(report) else ""
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + section + text[text.index(END) + len(END) + 1:]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(report, "w") as out:
        out.write(text)
    print(section)


if __name__ == "__main__":
    main()
