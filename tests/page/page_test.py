"""The browser page, as a player has it: written by the tool, opened from file://
in Debian's headless Chromium at desktop and phone sizes, driven through its
scripting interface and by real pointer, key and touch events.
    page_test.py WLDMAP GENSAMPLE
WLDMAP_FAIL_FAST=1 stops at the first failure (the mutation sweep sets it).
Exits 77 (skipped) where Chromium, its driver or python3-selenium is missing."""
import base64
import csv
import io
import json
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
try:
    import browser
    from PIL import Image
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
    from selenium.webdriver.common.keys import Keys
except ImportError as error:
    print(f"needs python3-selenium and python3-pil: {error}")
    sys.exit(77)

if browser.missing():
    print(f"needs Debian's chromium and chromium-driver: no {browser.missing()}")
    sys.exit(77)
WLDMAP, GENSAMPLE = sys.argv[1], sys.argv[2]
# Ends a script element by any spelling the HTML tokenizer takes ("</script>", and
# "</script" then a space), and would add an element if taken for HTML.
HOSTILE = "</script><script>alert(1)</script><img src=x onerror=alert(2)></script x &amp; &"

# A world with every kind of cell: signed types (with and without extra values,
# 0 among them), no tile, known and unknown walls, water and lava of several
# amounts; the surface and rock levels put rows in each band (0-2 sky, 3-4
# underground, 5-8 rock).
WIDTH, HEIGHT = 7, 9
CELLS = [((x * 37 + y * 11) % 256 - 128 if (x + y) % 3 else None,
          [0, 1, 13, 14, -56, 5, 0][x] if y % 2 else 0,
          [0, 0, 255, 17, 1][(x * y) % 5],
          x % 2 == 1)
         for x in range(WIDTH) for y in range(HEIGHT)]
CELLS[4 * HEIGHT + 5] = (0, 0, 0, False)
BAND = [0, 0, 0, 1, 1, 2, 2, 2, 2]
# Names made up for the tests, one hostile; the bad lines are warned of.
HOSTILE_NAME = "<img src=x onerror=alert(3)>&amp; & </script>"
NAMES = (f"tile {CELLS[1][0]} Copper ore\ntile {CELLS[2][0]} Iron Ore\ntile 0 Loam\n"
         f"tile {CELLS[4][0]} {HOSTILE_NAME}\nwall 1 Rubble wall\ntile 300 Too big\nbad line\n")


def run_tool(*args, cwd, env=None):
    return subprocess.run([WLDMAP, *args], cwd=cwd, stdin=subprocess.DEVNULL, env=env,
                          capture_output=True, text=True, check=True)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="wldmap-page-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        at = lambda name: os.path.join(cls.folder, name)  # noqa: E731
        subprocess.run([GENSAMPLE, "240", "160", "7", at("sample.wld")], check=True, capture_output=True)
        # The tile types with extra values, as the tool's own pages carry them.
        run_tool("--html", "sample.wld", cwd=cls.folder)
        aux = browser.world_data(at("Sample.html"))["auxTypes"]
        write_world = lambda name, *world: browser.write_world(at(name), *world, aux)  # noqa: E731
        write_world("cells.wld", "Cells", WIDTH, HEIGHT, 2.5, 4.0, CELLS)
        write_world("hostile.wld", HOSTILE, 3, 2, 0.5, 1.0, [(1, 0, 0, False)] * 6)
        # One cell of a rare type in a wide world of stone, seen at the fit zoom.
        cls.lone = (1234, 321)
        write_world("lone.wld", "Lone", 2000, 500, 100.5, 200.5,
                    [(100 if (x, y) == cls.lone else 1, 0, 0, False) for x in range(2000) for y in range(500)])
        write_world("tall.wld", "Tall", 40, 300, 100.5, 200.5, [(2, 1, 0, False)] * 12000)
        write_world("seams.wld", "Seams", 4200, 40, 10.5, 20.5, [(1, 0, 0, False)] * 4200 * 40)
        # Noise over more cells than one packing chunk holds.
        rng = random.Random(5)
        cls.noise = [(rng.choice([None, rng.randrange(-128, 128)]), rng.randrange(-128, 128),
                      rng.choice([0, rng.randrange(1, 256)]), rng.random() < 0.5) for _ in range(600 * 500)]
        write_world("noisy.wld", "Noisy", 600, 500, 100.5, 300.5, cls.noise)
        os.makedirs(at("config/wldmap"))
        with open(at("config/wldmap/tilenames.txt"), "w") as names:
            names.write(NAMES)
        env = dict(os.environ, XDG_CONFIG_HOME=at("config"))
        cls.warned = run_tool("--html", "sample.wld", "cells.wld", "hostile.wld", "lone.wld", "tall.wld",
                              "noisy.wld", "seams.wld", cwd=cls.folder, env=env).stderr
        cls.driver = browser.start()
        cls.addClassCleanup(browser.stop, cls.driver)

    def open(self, name, fragment=""):
        url = pathlib.Path(self.folder, name + ".html").as_uri() + fragment
        self.driver.get("about:blank")
        self.driver.get(url)
        self.assertIsNone(browser.wait_ready(self.driver))
        return url

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def screen(self, driver=None):
        """The screen canvas once drawn, as (width, height, RGBA bytes)."""
        w, h, data = (driver or self.driver).execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "requestAnimationFrame(() => requestAnimationFrame(() => {"
            "  const c = document.getElementById('view'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
            "  let s = ''; for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode(...d.subarray(i, i + 0x8000));"
            "  done([c.width, c.height, btoa(s)]); }));")
        return w, h, base64.b64decode(data)

    def test_pixels_and_the_screen_equal_the_map_and_follow_the_layers(self):
        self.open("Sample")
        png = Image.open(os.path.join(self.folder, "Sample.png")).convert("RGBA").tobytes()
        self.assertEqual(png, browser.pixels(self.driver, 0, 0, 240, 160))
        # The screen at one cell a CSS pixel is the map, cell for cell.
        for name, size in (("Sample", (240, 160)), ("Cells", (WIDTH, HEIGHT))):
            self.open(name, f"#x={size[0] / 2}&y={size[1] / 2}&zoom=1")
            png = Image.open(os.path.join(self.folder, name + ".png")).convert("RGBA").tobytes()
            w, h, shown = self.screen()
            left, top = round(w / 2 - size[0] / 2), round(h / 2 - size[1] / 2)
            rows = [shown[((top + y) * w + left) * 4:((top + y) * w + left + size[0]) * 4] for y in range(size[1])]
            self.assertEqual(png, b"".join(rows), name)
        # No layer: opaque black. The background alone: each row's band.
        self.js("window.wldmap.setLayers({background: false, walls: false, tiles: false, liquids: false})")
        self.assertEqual(bytes([0, 0, 0, 255]) * WIDTH * HEIGHT, browser.pixels(self.driver, 0, 0, WIDTH, HEIGHT))
        self.js("window.wldmap.setLayers({background: true})")
        depth = [(68, 130, 254), (82, 58, 45), (67, 61, 56)]
        self.assertEqual(b"".join(bytes([*depth[b], 255]) for b in BAND), bytes(browser.pixels(self.driver, 0, 0, 1, HEIGHT)))
        # Hidden layers' rows of the legend are greyed and say so.
        hidden = self.js("return [...document.querySelectorAll('#legend tr.hidden')].map(r => r.dataset.kind)")
        self.assertEqual({"tile", "wall", "liquid"}, set(hidden))

    def test_cells_counts_by_depth_and_their_csv_are_the_worlds(self):
        self.open("Cells")
        cells, outside, counts, by_depth = self.js(
            "const w = window.wldmap, out = [];"
            "for (let x = 0; x < 7; ++x) for (let y = 0; y < 9; ++y) out.push(w.cellAt(x, y));"
            "return [out, [[-1, 0], [0, -1], [7, 0], [0, 9], [6, 9], [7, 8], [-1, -1]].map(([x, y]) => w.cellAt(x, y)),"
            "        w.counts(), w.countsByDepth()];")
        expected = [{"active": tile is not None, "type": tile, "wall": wall, "liquid": liquid,
                     "lava": bool(liquid) and lava} for tile, wall, liquid, lava in CELLS]
        self.assertEqual(expected, cells)
        self.assertEqual([None] * 7, outside)
        depth = {"tiles": {}, "walls": {}, "liquids": {}}
        for i, (tile, wall, liquid, lava) in enumerate(CELLS):
            for kind, key in (("tiles", tile), ("walls", wall or None), ("liquids", ("lava" if lava else "water") if liquid else None)):
                if key is not None:
                    entry = depth[kind].setdefault(str(key), {"sky": 0, "underground": 0, "rock": 0, "total": 0})
                    entry[["sky", "underground", "rock"][BAND[i % HEIGHT]]] += 1
                    entry["total"] += 1
        self.assertIn("0", depth["tiles"])
        self.assertEqual(depth, by_depth)
        self.assertEqual({kind: {k: v["total"] for k, v in entries.items()} for kind, entries in depth.items()}, counts)
        legend = self.js("return [...document.querySelectorAll('#legend tbody tr')].map("
                         "e => [e.dataset.kind, e.dataset.type, Number(e.dataset.count)])")
        self.assertEqual(sorted(legend, key=lambda e: -e[2]), legend)
        self.assertEqual(sorted((k[:-1], t, v["total"]) for k, e in depth.items() for t, v in e.items()),
                         sorted(map(tuple, legend)))
        # The CSV, downloaded as a player would: tiles, walls, liquids, each largest first.
        downloads = os.path.join(self.folder, "downloads")
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
        self.js("document.getElementById('csv').click()")
        path = os.path.join(downloads, "Cells counts.csv")
        for _ in range(50):
            if os.path.exists(path):
                break
            time.sleep(0.1)
        with open(path, newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual(["kind", "type", "name", "sky", "underground", "rock", "total"], rows[0])
        names = {"0": "Loam", str(CELLS[1][0]): "Copper ore", str(CELLS[2][0]): "Iron Ore", str(CELLS[4][0]): HOSTILE_NAME}
        want = []
        for kind in ("tiles", "walls", "liquids"):
            for key, c in sorted(depth[kind].items(), key=lambda e: (-e[1]["total"], 0 if kind == "liquids" else int(e[0]))):
                name = names.get(key, "") if kind == "tiles" else "Rubble wall" if kind == "walls" and key == "1" else ""
                want.append([kind[:-1], key, name] + [str(c[b]) for b in ("sky", "underground", "rock", "total")])
        self.assertEqual(want, rows[1:])

    def test_a_click_pins_the_cell_and_moves_nothing_and_the_address_keeps_the_spot(self):
        url = self.open("Sample")
        self.js("window.wldmap.find(-3)")
        canvas = self.driver.find_element("id", "view")
        readout = self.driver.find_element("id", "readout")
        ActionChains(self.driver).move_to_element_with_offset(canvas, 5, 5).perform()
        self.assertRegex(readout.text, r"^\d+, \d+ · \d+ (below|above) the surface · in the (sky|underground|rock layer) · ")
        state = "return [window.wldmap.view, window.wldmap.layers, document.getElementById('found').textContent]"
        before = self.js(state)
        ActionChains(self.driver).move_to_element_with_offset(canvas, 20, 30).click().perform()
        after = self.js(state)
        self.assertEqual(before, after)
        pinned = self.js("return window.wldmap.selected")
        self.assertIsNotNone(pinned)
        ActionChains(self.driver).move_by_offset(40, 40).perform()
        self.assertTrue(readout.text.startswith(f"{pinned[0]}, {pinned[1]}"), readout.text)
        # Wheel and drag; keys typed into the find box move nothing.
        view = self.js("return window.wldmap.view")
        ActionChains(self.driver).scroll_from_origin(ScrollOrigin.from_element(canvas), 0, -300).perform()
        zoomed = self.js("return window.wldmap.view")
        self.assertGreater(zoomed["zoom"], view["zoom"])
        ActionChains(self.driver).move_to_element(canvas).click_and_hold().move_by_offset(-80, 0).release().perform()
        dragged = self.js("return window.wldmap.view")
        self.assertGreater(dragged["x"], zoomed["x"])
        box = self.driver.find_element("id", "find")
        box.click()
        box.send_keys("+-0", Keys.ARROW_LEFT, Keys.ARROW_UP)
        self.assertEqual(dragged, self.js("return window.wldmap.view"))
        # A layer ticked off leaves the keys to the map.
        self.driver.find_element("css selector", "#layers input[name=walls]").click()
        ActionChains(self.driver).send_keys(Keys.ARROW_RIGHT).perform()
        self.assertGreater(self.js("return window.wldmap.view.x"), dragged["x"])
        # The address it writes, opened anew, shows the same: view, layers, find (negative) and cell.
        time.sleep(0.4)
        state = "const w = window.wldmap; return [w.view, w.layers, document.getElementById('found').title, w.selected]"
        written, shown = self.js("return location.href"), self.js(state)
        shown[0] = {key: round(value, 4 if key == "zoom" else 2) for key, value in shown[0].items()}
        self.assertNotEqual(url, written)
        self.driver.get("about:blank")
        self.driver.get(written)
        self.assertIsNone(browser.wait_ready(self.driver))
        self.assertEqual(shown, self.js(state))
        self.assertEqual("tile -3", shown[2])

    def test_finds_are_marked_at_every_zoom_and_stepped_nearest_first(self):
        self.open("Cells", "#x=3.5&y=4.5&zoom=8")
        w = "const w = window.wldmap;"
        # Tile type, wall and liquid: the current match is the nearest to the view's centre.
        for query, test in ((CELLS[1][0], lambda c: c[0] == CELLS[1][0]), ({"kind": "wall", "type": -56}, lambda c: c[1] == -56),
                            ({"kind": "liquid", "type": "lava"}, lambda c: c[2] and c[3]), ("ore", lambda c: c[0] in (CELLS[1][0], CELLS[2][0]))):
            cells = [(i // HEIGHT, i % HEIGHT) for i, c in enumerate(CELLS) if test(c)]
            order = sorted(cells, key=lambda c: ((c[0] + 0.5 - 3.5) ** 2 + (c[1] + 0.5 - 4.5) ** 2, c))
            w = "const w = window.wldmap; w.setView({x: 3.5, y: 4.5, zoom: 8});"
            found = self.js(w + "return w.find(arguments[0])", query)
            self.assertEqual({"count": len(cells), "first": list(min(cells)), "at": list(order[0])}, found, query)
            walked = self.js(w + "const out = [w.find(arguments[0]).at]; for (const _ of arguments[1]) out.push(w.next()); return out",
                             query, order)
            self.assertEqual([list(c) for c in order + order[:1]], walked, query)
            back = self.js(w + "w.find(arguments[0]); return [w.previous(), w.previous(), w.selected, w.view]", query)
            self.assertEqual([list(order[-1]), list(order[-2] if len(order) > 1 else order[-1])], back[:2], query)
            self.assertEqual(back[1], back[2])
            self.assertEqual([back[1][0] + 0.5, back[1][1] + 0.5], [back[3]["x"], back[3]["y"]])
        self.assertEqual(f"1 of {len(cells)}", self.js(w + "w.find('ore'); return document.getElementById('found').textContent"))
        # A negative type's cells are marked on the screen, beside a find of nothing.
        negative = next(t for t, _, _, _ in CELLS if t is not None and t < 0)
        self.js(w + "w.find(null)")
        plain = self.screen()
        self.js(w + "w.find(arguments[0])", negative)
        self.assertNotEqual(plain, self.screen())
        # At the fit zoom of a wide world, one matched cell among a million is plainly seen.
        self.open("Lone")
        w = "const w = window.wldmap;"
        zoom = self.js(w + "return w.view.zoom")
        self.assertLess(zoom, 1)
        before = self.screen()
        self.assertEqual(1, self.js(w + "return w.find(100).count"))
        w_, h_, after = self.screen()
        x, y = self.lone
        view = self.js(w + "return w.view")
        cx = round(w_ / 2 + (x + 0.5 - view["x"]) * zoom)
        cy = round(h_ / 2 + (y + 0.5 - view["y"]) * zoom)
        marked = [(px, py) for px in range(cx - 3, cx + 4) for py in range(cy - 3, cy + 4)
                  if after[(py * w_ + px) * 4] > 200 and after[(py * w_ + px) * 4 + 1] > 180
                  and after[(py * w_ + px) * 4 + 2] < 100 and before[2][(py * w_ + px) * 4 + 1] < 180]
        self.assertGreaterEqual(len(marked), 9)

    def test_names_and_a_hostile_world_run_nothing_and_nothing_is_fetched(self):
        names_file = os.path.join(self.folder, "config/wldmap/tilenames.txt")
        self.assertEqual(f"warning: {names_file}: line 6: type 300 is not from -128 to 127; it is skipped\n"
                         f"warning: {names_file}: line 7: it starts with neither \"tile\" nor \"wall\"; it is skipped\n",
                         self.warned)
        self.open("Cells")
        names = self.js("return window.wldmap.world.names")
        self.assertEqual({"tiles": {"0": "Loam", str(CELLS[1][0]): "Copper ore", str(CELLS[2][0]): "Iron Ore",
                                    str(CELLS[4][0]): HOSTILE_NAME}, "walls": {"1": "Rubble wall"}}, names)
        self.js("window.wldmap.select(0, 4)")
        readout = self.driver.find_element("id", "readout").text
        self.assertIn(f"{HOSTILE_NAME} ({CELLS[4][0]})", readout)
        readout = "window.wldmap.select(...arguments); return document.getElementById('readout').textContent"
        self.assertIn("Rubble wall (wall 1)", self.js(readout, 1, 1))
        self.assertIn("water, full", self.js(readout, 2, 1))
        self.assertIn("lava, 7 %", self.js(readout, 3, 1))
        self.assertIn("Copper ore", self.js("return document.getElementById('legend').textContent"))
        for log in ("performance", "browser"):
            self.driver.get_log(log)  # only this page's from here on
        url = self.open(HOSTILE.replace("/", "_"))
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text
        self.assertEqual(HOSTILE, self.js("return window.wldmap.world.name"))
        self.assertEqual(HOSTILE, self.driver.find_element("id", "name").text)
        self.assertEqual(HOSTILE, self.js("return document.title").removesuffix(" · wldmap"))
        self.assertEqual(0, self.js("return document.images.length"))
        requested = set()
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                requested.add(message["params"]["request"]["url"])
        self.assertEqual({url}, requested)
        self.assertEqual([], [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"])

    def test_a_page_cut_short_or_damaged_says_so(self):
        page = pathlib.Path(self.folder, "Cells.html").read_bytes()
        cells = page.index(b'id="wldmap-cells"')
        plane = page.index(b"\n", cells) + 1
        cases = {"in its style": page[:page.index(b"<style>") + 30], "in its cells": page[:cells + 200],
                 "before its script": page[:page.rindex(b"<script>")],
                 "with a plane damaged": page[:plane + 2] + (b"A" if page[plane + 2:plane + 3] != b"A" else b"B") + page[plane + 3:],
                 "with a world too large": page.replace(b'"height":9,', b'"height":90000000,', 1)}
        for case, text in cases.items():
            path = pathlib.Path(self.folder, "cut.html")
            path.write_bytes(text)
            self.driver.get("about:blank")
            self.driver.get(path.as_uri())
            message = self.driver.find_element("id", "message")
            if case.startswith("with"):
                self.assertRegex(browser.wait_ready(self.driver), "^This (page is damaged|world is 7 x 90,000,000 cells)", case)
            self.assertTrue(message.is_displayed(), case)
            self.assertRegex(message.text, "incomplete|damaged|more than a browser tab may use", case)

    def test_large_noisy_wide_and_tall_worlds(self):
        self.open("Noisy")
        png = Image.open(os.path.join(self.folder, "Noisy.png")).convert("RGBA").tobytes()
        self.assertEqual(png, browser.pixels(self.driver, 0, 0, 600, 500))
        got = self.js("const w = window.wldmap, out = [];"
                      "for (let x = 0; x < 600; ++x) for (let y = 0; y < 500; ++y) {"
                      "  const c = w.cellAt(x, y); out.push([c.type, c.wall, c.liquid, c.lava]); }"
                      "return out;")
        self.assertEqual([[t, wall, liquid, bool(liquid) and lava] for t, wall, liquid, lava in self.noise], got)
        for name, (width, height) in (("Lone", (2000, 500)), ("Tall", (40, 300))):
            self.open(name)
            for x, y in ((0, 0), (width, 0), (0, height), (width, height)):
                view = self.js("window.wldmap.setView({x: arguments[0], y: arguments[1], zoom: 4}); return window.wldmap.view", x, y)
                self.assertEqual([x, y], [view["x"], view["y"]], name)

    def test_seamless_one_material_is_one_colour_across_the_pieces_of_the_map(self):
        """Zooms that put the edges between the map's 2048-cell pieces between
        screen pixels show no seam, in Chromium and in Firefox where it is installed.
        (Its name sorts it last: it is the slowest, as it starts Firefox.)"""
        drivers = [self.driver] + ([browser.Firefox()] if shutil.which("firefox-esr") else [])
        try:
            for driver in drivers:
                driver.get("about:blank")
                driver.get(pathlib.Path(self.folder, "Seams.html").as_uri())
                self.assertIsNone(browser.wait_ready(driver))
                for zoom in (0, 0.3, 0.77, 1.3, 2.6):
                    driver.execute_script("window.wldmap.setView({x: 2048.37, y: 20, zoom: arguments[0]})", zoom)
                    _, _, shown = self.screen(driver)
                    colours = {shown[i:i + 4] for i in range(0, len(shown), 4)}
                    self.assertEqual({bytes([16, 17, 20, 255]), bytes([128, 128, 128, 255])}, colours, zoom)
        finally:
            for driver in drivers[1:]:
                driver.quit()

    def test_on_a_phone(self):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
        self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
        try:
            self.open("Cells")
            width, inner, box = self.js("const r = document.getElementById('view').getBoundingClientRect();"
                                        "return [document.documentElement.scrollWidth, innerWidth, [r.width, r.height]]")
            self.assertEqual(inner, width)
            self.assertGreaterEqual(box[0] * box[1], 0.6 * 390 * 844)
            # A tap shows the cell and moves nothing; two fingers apart zoom in.
            view = self.js("return window.wldmap.view")
            tap = {"x": 200, "y": 400}
            for kind, points in (("touchStart", [tap]), ("touchEnd", [])):
                self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})
            self.assertIsNotNone(self.js("return window.wldmap.selected"))
            self.assertEqual(view, self.js("return window.wldmap.view"))
            for kind, spread in (("touchStart", 20), ("touchMove", 60), ("touchMove", 100), ("touchEnd", None)):
                points = [] if spread is None else [{"x": 195 - spread, "y": 400, "id": 1}, {"x": 195 + spread, "y": 400, "id": 2}]
                self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})
            self.assertGreater(self.js("return window.wldmap.view.zoom"), view["zoom"] * 2)
            # The legend opens over the map from its button and closes again.
            panel = self.driver.find_element("id", "panel")
            panel.click()
            self.assertTrue(self.driver.find_element("id", "legend").is_displayed())
            self.driver.find_element("id", "close").click()
            self.assertFalse(self.driver.find_element("id", "legend").is_displayed())
            self.driver.find_element("id", "find").send_keys("ore", Keys.ENTER)
            ores = sum(1 for c in CELLS if c[0] in (CELLS[1][0], CELLS[2][0]))
            self.assertEqual(f"1 of {ores}", self.driver.find_element("id", "found").text)
        finally:
            self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
            self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2, failfast=os.environ.get("WLDMAP_FAIL_FAST") == "1")
