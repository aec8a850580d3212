"""The browser page's benchmark. For every world of bench/worlds and a world of
random cells, the page's bytes against the PNG's; for the largest worlds, the run
with --html against the same run without it, and in Debian's headless Chromium at
1920 x 1080 the time from navigation to `ready`, the median frame of a scripted pan
and zoom, the memory the page takes a cell (in Firefox ESR too, where it is
installed), and the longest task of a find, a step and a layer toggle. With
HUGE_WORLD, also the memory a cell of that world's page (one near the largest a
page shows). Writes its section of docs/performance.md (between its two marker
lines) and prints it.
    /usr/bin/python3 bench/page.py WLDMAP REPORT WORLDS_FOLDER [HUGE_WORLD]
"""
import glob
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "page"))
import browser  # noqa: E402
from report import write_section  # noqa: E402

BEGIN, END = "<!-- page benchmark -->", "<!-- end of the page benchmark -->"
RUNS = 5


def timed(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def pss(pids):
    """The proportional set size of these processes, in bytes."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                total += sum(int(line.split()[1]) * 1024 for line in f if line.startswith("Pss:"))
        except OSError:
            continue
    return total


def processes(match):
    """The processes whose command line `match` accepts."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if match(f.read()):
                    found.append(pid)
        except OSError:
            continue
    return found


def chromium_tabs(driver):
    return lambda: processes(lambda c: driver.profile_folder.encode() in c and b"--type=renderer" in c)


def children():
    """Each process's children, by parent."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        found.setdefault(parent, []).append(int(pid))
    return found


def firefox_tabs(firefox):
    """Firefox's content processes: those it started that say so."""
    def tabs():
        below, todo, found = children(), [firefox.process.pid], []
        while todo:
            pid = todo.pop()
            todo += below.get(pid, [])
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if b"-contentproc" in f.read():
                        found.append(pid)
            except OSError:
                continue
        return found
    return tabs


def peak_memory(driver, tabs, url):
    """The most memory the page's tabs took while it loaded and just after,
    over what they took with a blank page; and the milliseconds to `ready`."""
    driver.get("about:blank")
    time.sleep(1)
    blank = pss(tabs())
    peak, done = [0], threading.Event()

    def watch():
        while not done.is_set():
            peak[0] = max(peak[0], pss(tabs()))
            time.sleep(0.05)
    watcher = threading.Thread(target=watch)
    watcher.start()
    driver.get(url)
    ready = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "window.wldmap.ready.then(() => done(performance.now()), (e) => done(String(e)));")
    time.sleep(2)
    done.set()
    watcher.join()
    return peak[0] - blank, ready


# A scripted pan and zoom, frame by frame; the median time between frames, in ms.
FRAMES = """
const done = arguments[arguments.length - 1];
const w = window.wldmap, times = [];
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

# The longest task, in ms, from `action` until the page has been quiet for a
# second: what it does at once and what it leaves for later tasks.
LONGEST_TASK = """
const done = arguments[arguments.length - 1];
const w = window.wldmap, tasks = [0];
let quietSince = performance.now();
const observer = new PerformanceObserver((list) => {
  for (const e of list.getEntries()) tasks.push(e.duration);
  quietSince = performance.now();
});
observer.observe({ type: "longtask" });
const started = performance.now();
ACTION;
// A task the action ran at once is over by now; so is the frame after it.
tasks.push(performance.now() - started);
const check = () => {
  if (performance.now() - quietSince < 1000) return setTimeout(check, 100);
  observer.disconnect();
  done(Math.max(...tasks));
};
requestAnimationFrame(() => setTimeout(check, 100));
"""

ACTIONS = [("find a rare tile (type 7)", "w.find(7)"), ("step to the next", "w.next()"),
           ("step back", "w.previous()"), ("find the commonest tile (type 1)", "w.find(1)"),
           ("step to the next", "w.next()"), ("hide the walls", "w.setLayers({walls: false})"),
           ("show the walls", "w.setLayers({walls: true})")]


def random_world(path, aux_types):
    """Cells as a game could store them, each drawn at random: a tile of a type
    the colour file knows, or none; a wall with a colour, or none; water or lava of
    any amount, or none. The types of `aux_types` carry their extra values."""
    rng = random.Random(1)
    colours = os.path.join(os.path.dirname(__file__), "..", "data", "tilecolors.txt")
    types = [int(line.split()[0]) for line in open(colours) if line.strip()]
    cells = [(rng.choice(types) if rng.random() < 0.6 else None, rng.randrange(14),
              rng.randrange(1, 256) if rng.random() < 0.3 else 0, rng.random() < 0.5)
             for _ in range(1000 * 500)]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    browser.write_world(path, "Random", 1000, 500, 100.5, 300.5, cells, aux_types)


def page_of(wldmap, world, folder):
    """Writes the map and page of `world` in `folder`: the page's and the PNG's paths."""
    shutil.copyfile(world, os.path.join(folder, "world.wld"))
    subprocess.run([wldmap, "--html", "world.wld"], cwd=folder, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, check=True)
    page = next(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".html"))
    return page, page[:-len(".html")] + ".png"


def label(world):
    parts = world.split(os.sep)
    return f"{parts[-2]} {parts[-3]}"


def measure_largest(wldmap, world, folder):
    plain, html = [], []
    shutil.copyfile(world, os.path.join(folder, "world.wld"))
    for _ in range(RUNS):
        plain.append(timed([wldmap, "world.wld"], folder))
        html.append(timed([wldmap, "--html", "world.wld"], folder))
    page, _ = page_of(wldmap, world, folder)
    driver = browser.start(1920, 1080, ["--disable-gpu-vsync", "--disable-frame-rate-limit"])
    try:
        memory, ready = peak_memory(driver, chromium_tabs(driver), "file://" + page)
        frame = driver.execute_async_script(FRAMES)
        driver.execute_script("window.wldmap.setView({zoom: 0.0001})")  # the whole world, marks and all
        tasks = [(what, driver.execute_async_script(LONGEST_TASK.replace("ACTION", action)))
                 for what, action in ACTIONS]
        cells = driver.execute_script("return window.wldmap.world.width * window.wldmap.world.height")
    finally:
        browser.stop(driver)
    return {"world": label(world), "plain": statistics.median(plain), "html": statistics.median(html),
            "ready": ready, "frame": frame, "memory": memory, "firefox": firefox_memory(page), "cells": cells,
            "tasks": tasks}


def firefox_memory(page):
    """The most memory `page` took in Firefox ESR while it loaded, over a blank
    page's; None where Firefox is not installed."""
    if not shutil.which("firefox-esr"):
        return None
    fox = browser.Firefox(1920, 1080)
    try:
        fox.call("WebDriver:SetTimeouts", {"script": 1200000})
        return peak_memory(fox, firefox_tabs(fox), "file://" + page)[0]
    finally:
        fox.quit()


def huge_memory(wldmap, world):
    """The memory a cell of `world`'s page in Chromium and Firefox (None where
    Firefox is not installed), and its cells."""
    with tempfile.TemporaryDirectory() as folder:
        page, _ = page_of(wldmap, world, folder)
        driver = browser.start(1920, 1080)
        driver.set_script_timeout(1200)
        try:
            chromium, _ = peak_memory(driver, chromium_tabs(driver), "file://" + page)
            cells = driver.execute_script("return window.wldmap.world.width * window.wldmap.world.height")
        finally:
            browser.stop(driver)
        firefox = firefox_memory(page)
    return chromium / cells, firefox / cells if firefox is not None else None, cells


def main():
    wldmap, report, worlds = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    huge = huge_memory(wldmap, sys.argv[4]) if len(sys.argv) > 4 else None
    randomly = os.path.join(worlds, "random", "1000x500", "world.wld")
    if not os.path.exists(randomly):
        with tempfile.TemporaryDirectory() as folder:
            page, _ = page_of(wldmap, os.path.join(worlds, "sample", "1000x500", "world.wld"), folder)
            random_world(randomly, browser.world_data(page)["auxTypes"])
    every = sorted(glob.glob(os.path.join(worlds, "*", "*", "world.wld")),
                   key=lambda w: (w.split(os.sep)[-3], int(w.split(os.sep)[-2].split("x")[0])))
    sizes = []
    for world in every:
        with tempfile.TemporaryDirectory() as folder:
            page, png = page_of(wldmap, world, folder)
            with open(page, "rb") as f:
                text = f.read()
            start = text.index(b'<script id="wldmap-cells" type="application/octet-stream">')
            cells = text.index(b"</script>", start) - start
            sizes.append((label(world), len(text), cells, os.path.getsize(png)))
    largest = [w for w in every if w.split(os.sep)[-2] == "8400x2400"]
    rows = []
    for world in largest:
        with tempfile.TemporaryDirectory() as folder:
            rows.append(measure_largest(wldmap, world, folder))
    lines = ["### The browser page (`bench/page.py`)", "",
             "The page's bytes against the PNG's, for every world of `bench/worlds` and a world of random",
             "cells (1000 x 500, each a tile of a type the colour file knows or none, a wall with a colour",
             "or none, water or lava of any amount or none); and the part of the page that is the cells,",
             "without the script, style and colours every page carries:", "",
             "| world | page (MB) | PNG (MB) | ratio | cells (MB) | ratio |", "|---|---|---|---|---|---|"]
    lines += [f"| {w} | {p / 1e6:.3f} | {g / 1e6:.3f} | {p / g:.2f} | {c / 1e6:.3f} | {c / g:.2f} |"
              for w, p, c, g in sizes]
    lines += ["",
              f"On the largest worlds: the median of {RUNS} runs each of `wldmap WORLD` and `wldmap --html WORLD`,",
              "run in turn; in headless Chromium at 1920 x 1080 (software rendering, frame rate not capped) the",
              "time from navigation to `ready` in a fresh browser, the median time between frames of a scripted",
              "pan and zoom of 240 frames, and the most memory the page's tab took while it loaded, over a",
              "blank page's, a cell (in Firefox ESR too):", "",
              "| world | map (s) | map and page (s) | ratio | ready (ms) | median frame (ms) "
              "| memory, Chromium (bytes a cell) | memory, Firefox (bytes a cell) |",
              "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        fox = f"{r['firefox'] / r['cells']:.1f}" if r["firefox"] is not None else "not installed"
        lines.append(f"| {r['world']} | {r['plain']:.3f} | {r['html']:.3f} | {r['html'] / r['plain']:.2f} "
                     f"| {r['ready']:.0f} | {r['frame']:.1f} | {r['memory'] / r['cells']:.1f} | {fox} |")
    if huge:
        fox = f"{huge[1]:.1f}" if huge[1] is not None else "not installed"
        lines += ["", f"On a world of {huge[2]:,} cells (`bench/page.py ... HUGE_WORLD`), near the largest a page shows:",
                  f"{huge[0]:.1f} bytes a cell in Chromium, {fox} in Firefox."]
    lines += ["", "The longest task of each action at the fit zoom, in this order, from the action until the",
              "page has been quiet for a second (Chromium's long tasks, and the action's own call):", "",
              "| world | " + " | ".join(what for what, _ in ACTIONS) + " |",
              "|---|" + "---|" * len(ACTIONS)]
    for r in rows:
        lines.append(f"| {r['world']} | " + " | ".join(f"{ms:.0f} ms" for _, ms in r["tasks"]) + " |")
    write_section(report, BEGIN, END, lines)


if __name__ == "__main__":
    main()
