"""Takes the README's screenshot of the browser page: a 1200 x 400 sample world
mapped with --html, opened in Debian's headless Chromium, zoomed in on a spot,
a tile type found and the pointer on a cell.
    /usr/bin/python3 tools/page-screenshot.py WLDMAP GENSAMPLE OUTPUT.png
"""
import os
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "page"))
import browser  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402

wldmap, gensample, output = (os.path.abspath(p) for p in sys.argv[1:4])
with tempfile.TemporaryDirectory() as folder:
    subprocess.run([gensample, "1200", "400", "1", os.path.join(folder, "sample.wld")], check=True,
                   capture_output=True)
    subprocess.run([wldmap, "--html", "sample.wld"], cwd=folder, stdin=subprocess.DEVNULL, check=True,
                   capture_output=True)
    driver = browser.start(1280, 720)
    try:
        driver.get(pathlib.Path(folder, "Sample.html").as_uri() + "#x=640&y=190&zoom=3&layers=bwtl")
        error = browser.wait_ready(driver)
        if error:
            sys.exit(f"the page failed: {error}")
        largest = driver.execute_script(
            "const t = window.wldmap.counts().tiles;"
            "return Object.keys(t).sort((a, b) => t[a] - t[b])[Math.floor(Object.keys(t).length / 2)];")
        driver.execute_script("window.wldmap.find(Number(arguments[0]));"
                              "window.wldmap.setView({x: 640, y: 190, zoom: 3});", largest)
        canvas = driver.find_element("id", "view")
        ActionChains(driver).move_to_element_with_offset(canvas, 40, 30).perform()
        driver.save_screenshot(output)
    finally:
        browser.stop(driver)
print(output)
