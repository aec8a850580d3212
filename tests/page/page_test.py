"""The browser page, as a user has it: written by the tool, opened from file://
in Debian's headless Chromium, driven through its scripting interface and by
real pointer events.
    page_test.py WLDMAP GENSAMPLE
Exits 77 (skipped) where Chromium, its driver or python3-selenium is missing."""
import io
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
try:
    import browser
    from PIL import Image
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
except ImportError as error:
    print(f"needs python3-selenium and python3-pil: {error}")
    sys.exit(77)

if browser.missing():
    print(f"needs Debian's chromium and chromium-driver: no {browser.missing()}")
    sys.exit(77)
WLDMAP, GENSAMPLE = sys.argv[1], sys.argv[2]
# Ends a script element by any spelling the HTML tokenizer takes ("</script>", and
# "</script" then a space), and would add an element if taken for HTML.
HOSTILE = "</script><script>alert(1)</script><img src=x onerror=alert(2)></script x"

# A world with every kind of cell: signed types (with and without extra values),
# no tile, known and unknown walls, water and lava of several amounts; the
# surface and rock levels put rows in each depth.
WIDTH, HEIGHT = 7, 9
CELLS = [((x * 37 + y * 11) % 256 - 128 if (x + y) % 3 else None,
          [0, 1, 13, 14, -56, 5, 0][x] if y % 2 else 0,
          [0, 0, 255, 17, 1][(x * y) % 5],
          x % 2 == 1)
         for x in range(WIDTH) for y in range(HEIGHT)]


def run_tool(*args, cwd):
    return subprocess.run([WLDMAP, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=True)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="wldmap-page-")
        subprocess.run([GENSAMPLE, "240", "160", "7", os.path.join(cls.folder, "sample.wld")],
                       check=True, capture_output=True)
        browser.write_world(os.path.join(cls.folder, "cells.wld"), "Cells", WIDTH, HEIGHT, 2.5, 4.0, CELLS)
        browser.write_world(os.path.join(cls.folder, "hostile.wld"), HOSTILE, 3, 2, 0.5, 1.0,
                            [(1, 0, 0, False)] * 6)
        for world in ("sample.wld", "cells.wld", "hostile.wld"):
            run_tool("--html", world, cwd=cls.folder)
        cls.driver = browser.start()

    @classmethod
    def tearDownClass(cls):
        browser.stop(cls.driver)

    def open(self, name, fragment=""):
        url = pathlib.Path(self.folder, name + ".html").as_uri() + fragment
        self.driver.get(url)
        self.assertIsNone(browser.wait_ready(self.driver))
        return url

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def test_pixels_equal_the_map_and_follow_the_layers(self):
        self.open("Sample")
        world = self.js("return window.wldmap.world")
        self.assertEqual((240, 160), (world["width"], world["height"]))
        png = Image.open(os.path.join(self.folder, "Sample.png")).convert("RGBA").tobytes()
        self.assertEqual(png, browser.pixels(self.driver, 0, 0, 240, 160))
        self.assertEqual(png[(5 * 240 + 3) * 4:(5 * 240 + 13) * 4], browser.pixels(self.driver, 3, 5, 10, 1))
        # No layer: opaque black. The background alone: each row's depth.
        self.js("window.wldmap.setLayers({background: false, walls: false, tiles: false, liquids: false})")
        self.assertEqual(bytes([0, 0, 0, 255]) * 240 * 160, browser.pixels(self.driver, 0, 0, 240, 160))
        self.open("Cells")
        self.js("window.wldmap.setLayers({background: true, walls: false, tiles: false, liquids: false})")
        rows = browser.pixels(self.driver, 0, 0, 1, HEIGHT)
        depth = [(68, 130, 254)] * 3 + [(82, 58, 45)] * 2 + [(67, 61, 56)] * 4  # sky, underground, rock
        self.assertEqual(b"".join(bytes([*c, 255]) for c in depth), bytes(rows))
        # Liquids alone over black: water and lava at half strength, nothing else.
        self.js("window.wldmap.setLayers({background: false, liquids: true})")
        got = browser.pixels(self.driver, 0, 0, WIDTH, HEIGHT)
        for x, y in ((2, 1), (3, 1), (1, 2), (0, 0)):
            tile, wall, liquid, lava = CELLS[x * HEIGHT + y]
            expected = ((127 if lava else 0, 0, 0 if lava else 127) if liquid else (0, 0, 0)) + (255,)
            self.assertEqual(expected, tuple(got[(y * WIDTH + x) * 4:(y * WIDTH + x) * 4 + 4]), (x, y))

    def test_cells_and_counts_are_the_worlds(self):
        self.open("Cells")
        got = self.js("const w = window.wldmap, out = [];"
                      "for (let x = 0; x < 7; ++x) for (let y = 0; y < 9; ++y) out.push(w.cellAt(x, y));"
                      "return [out, w.cellAt(7, 0), w.cellAt(0, -1), w.counts()];")
        cells, outside, above, counts = got
        expected = [{"active": tile is not None, "type": tile, "wall": wall, "liquid": liquid,
                     "lava": bool(liquid) and lava} for tile, wall, liquid, lava in CELLS]
        self.assertEqual(expected, cells)
        self.assertEqual([None, None], [outside, above])
        tiles, walls, liquids = {}, {}, {}
        for tile, wall, liquid, lava in CELLS:
            if tile is not None:
                tiles[str(tile)] = tiles.get(str(tile), 0) + 1
            if wall:
                walls[str(wall)] = walls.get(str(wall), 0) + 1
            if liquid:
                kind = "lava" if lava else "water"
                liquids[kind] = liquids.get(kind, 0) + 1
        self.assertEqual({"tiles": tiles, "walls": walls, "liquids": liquids}, counts)
        legend = self.js("return [...document.querySelectorAll('#legend li')].map("
                         "e => [e.dataset.kind, e.dataset.type, Number(e.dataset.count)])")
        self.assertEqual(sorted(legend, key=lambda e: -e[2]), legend)
        expected_legend = [["tile", t, n] for t, n in tiles.items()] + \
            [["wall", t, n] for t, n in walls.items()] + [["liquid", t, n] for t, n in liquids.items()]
        self.assertEqual(sorted(map(tuple, expected_legend)), sorted(map(tuple, legend)))
        # Find: the count, and the first in the file's order.
        tile = next(t for t, _, _, _ in CELLS if t is not None)
        first = next(i for i, c in enumerate(CELLS) if c[0] == tile)
        found = self.js("return window.wldmap.find(arguments[0])", tile)
        self.assertEqual({"count": tiles[str(tile)], "first": [first // HEIGHT, first % HEIGHT]}, found)
        self.assertEqual({"count": 0, "first": None}, self.js("return window.wldmap.find(null)"))

    def test_pointer_wheel_drag_and_address(self):
        url = self.open("Sample")
        canvas = self.driver.find_element("id", "view")
        readout = self.driver.find_element("id", "readout")
        before = readout.text
        ActionChains(self.driver).move_to_element_with_offset(canvas, 5, 5).perform()
        self.assertNotEqual(before, readout.text)
        self.assertRegex(readout.text, r"^\d+, \d+  (sky|underground|rock)  ")
        view = self.js("return window.wldmap.view")
        ActionChains(self.driver).scroll_from_origin(ScrollOrigin.from_element(canvas), 0, -300).perform()
        zoomed = self.js("return window.wldmap.view")
        self.assertGreater(zoomed["zoom"], view["zoom"])
        ActionChains(self.driver).move_to_element(canvas).click_and_hold().move_by_offset(-80, 0) \
            .release().perform()
        dragged = self.js("return window.wldmap.view")
        self.assertGreater(dragged["x"], zoomed["x"])
        # A link to a spot restores it: view, layers and find.
        spot = "#x=40.5&y=30&zoom=3&layers=bt&find=-3"
        self.driver.get(url.split("#")[0] + spot)
        self.driver.refresh()
        self.assertIsNone(browser.wait_ready(self.driver))
        state = self.js("const w = window.wldmap; return [w.view, w.layers, document.getElementById('find').value]")
        self.assertEqual({"x": 40.5, "y": 30, "zoom": 3}, state[0])
        self.assertEqual({"background": True, "walls": False, "tiles": True, "liquids": False}, state[1])
        self.assertEqual("-3", state[2])

    def test_hostile_name_runs_nothing_and_nothing_is_fetched(self):
        self.driver.get_log("performance")  # only this page's requests from here on
        url = self.open(HOSTILE.replace("/", "_"))
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text
        self.assertEqual(HOSTILE, self.js("return window.wldmap.world.name"))
        self.assertEqual(HOSTILE, self.driver.find_element("id", "name").text)
        self.assertEqual(0, self.js("return document.images.length"))
        requested = set()
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                requested.add(message["params"]["request"]["url"])
        self.assertTrue(requested)
        self.assertEqual({url}, requested)
        errors = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual([], errors)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
