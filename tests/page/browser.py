"""Debian's headless Chromium through its chromedriver and Firefox ESR through its
own remote protocol (Marionette), for the page's tests and benchmark, and a writer
of small worlds whose every cell the caller chooses."""
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

def world_data(page):
    """What a page tells of its world: the JSON of its wldmap-world element."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    start = text.index('<script id="wldmap-world" type="application/json">')
    start = text.index(">", start) + 1
    return json.loads(text[start:text.index("</script>", start)])


def missing():
    """What the browser tests lack on this machine, or None."""
    for program in ("chromium", "chromedriver"):
        if not shutil.which(program):
            return program
    return None


def start(width=1200, height=800, extra=()):
    """A headless Chromium that keeps its network log, on a profile of its own,
    with the `extra` flags."""
    profile = tempfile.mkdtemp(prefix="wldmap-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless=new", "--disable-gpu", "--no-first-run", "--disable-sync",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-default-apps", "--force-device-scale-factor=1",
                 f"--window-size={width},{height}", f"--user-data-dir={profile}", *extra):
        options.add_argument(flag)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
    driver.set_script_timeout(60)
    driver.profile_folder = profile
    return driver


def stop(driver):
    driver.quit()
    shutil.rmtree(driver.profile_folder, ignore_errors=True)


class Firefox:
    """Debian's Firefox ESR, headless, on a profile of its own, driven through
    Marionette, its own remote protocol: the few commands the tests need."""

    def __init__(self, width=1200, height=800):
        self.profile = tempfile.mkdtemp(prefix="wldmap-firefox-")
        with socket.socket() as free:
            free.bind(("127.0.0.1", 0))
            port = free.getsockname()[1]
        with open(os.path.join(self.profile, "user.js"), "w") as prefs:
            for name, value in (("marionette.port", port), ("browser.shell.checkDefaultBrowser", False),
                                ("datareporting.policy.dataSubmissionEnabled", False),
                                ("app.update.disabledForTesting", True), ("network.proxy.type", 0)):
                prefs.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
        self.process = subprocess.Popen(
            [shutil.which("firefox-esr"), "--headless", "--marionette", "--no-remote", "--profile", self.profile,
             f"--width={width}", f"--height={height}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):
            try:
                self.connection = socket.create_connection(("127.0.0.1", port), timeout=120)
                break
            except OSError:
                time.sleep(0.1)
        else:
            self.quit()
            raise RuntimeError("Firefox did not listen for Marionette")
        self.pending, self.serial = b"", 0
        self.read()  # the greeting
        self.call("WebDriver:NewSession", {"capabilities": {}})

    def receive(self):
        """The next bytes from Firefox; an error once it has closed the connection."""
        data = self.connection.recv(1 << 20)
        if not data:
            raise ConnectionError("Firefox closed its Marionette connection")
        return data

    def read(self):
        while b":" not in self.pending:
            self.pending += self.receive()
        length, rest = self.pending.split(b":", 1)
        while len(rest) < int(length):
            rest += self.receive()
        self.pending = rest[int(length):]
        return json.loads(rest[:int(length)])

    def call(self, command, parameters):
        self.serial += 1
        message = json.dumps([0, self.serial, command, parameters]).encode()
        self.connection.sendall(str(len(message)).encode() + b":" + message)
        while True:
            _, serial, error, result = self.read()
            if serial == self.serial:
                break
        if error:
            raise RuntimeError(f"{command}: {error}")
        return result

    def get(self, url):
        self.call("WebDriver:Navigate", {"url": url})

    def execute_script(self, script, *args):
        return self.call("WebDriver:ExecuteScript", {"script": script, "args": list(args)})["value"]

    def execute_async_script(self, script, *args):
        return self.call("WebDriver:ExecuteAsyncScript", {"script": script, "args": list(args)})["value"]

    def quit(self):
        # Firefox may close the connection before it answers; either way it is
        # given a minute to exit, then killed.
        try:
            self.call("Marionette:Quit", {})
        except (OSError, AttributeError):
            pass
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def wait_ready(driver):
    """Waits for window.wldmap.ready; the page's message when it was rejected."""
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "window.wldmap.ready.then(() => done(null), (e) => done(String(e.message)));")


def pixels(driver, x, y, w, h):
    """pixels(x, y, w, h) of the page, as bytes."""
    import base64
    text = driver.execute_script(
        "const p = window.wldmap.pixels(...arguments); let s = '';"
        "for (let i = 0; i < p.length; i += 0x8000) s += String.fromCharCode(...p.subarray(i, i + 0x8000));"
        "return btoa(s);", x, y, w, h)
    return base64.b64decode(text)


def write_world(path, name, width, height, surface, rock, cells, aux_types):
    """A .wld file of `cells`, column by column, each (type or None, wall, liquid,
    lava) with type and wall from -128 to 127; the cells of `aux_types` (as a
    page's world data has them) carry two extra values."""
    encoded = name.encode("utf-8")
    header = (b"\0\0\0\0" + bytes([len(encoded)]) + encoded + bytes(20) +
              struct.pack("<ii", height, width) + bytes(8) + struct.pack("<dd", surface, rock) +
              bytes(48))
    body = bytearray()
    for tile, wall, liquid, lava in cells:
        if tile is None:
            body += b"\0"
        else:
            body += bytes([1, tile & 255])
            if (tile & 255) in aux_types:
                body += struct.pack("<hh", 7, -7)
        body += b"\0"  # auxFlag
        body += bytes([1, wall & 255]) if wall else b"\0"
        body += bytes([1, liquid, 1 if lava else 0]) if liquid else b"\0"
    with open(path, "wb") as out:
        out.write(header + bytes(body))
