#!/usr/bin/python3
"""Starts a thumbnail service (tumbler) on the session bus, asks it for
thumbnails through its D-Bus interface, as a file manager does, and checks
what it stored in its cache.

  tumbler_client.py TUMBLERD SIZE GOOD_WORLD:MAP [...] -- BAD_WORLD [...]

Each good world's map (a PNG the tool wrote) is decoded with Pillow, and the
thumbnail rule is computed from it here: the longer side becomes
min(SIZE, the map's longer side), the other keeps the ratio rounded to nearest,
and each pixel is the mean of the map pixels it covers, halves rounded up. The
service must report every good world ready, with exactly that image stored
under $XDG_CACHE_HOME/thumbnails/normal/<md5 of the file's URI>.png, and every
bad world as an error, with nothing stored."""

import hashlib
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib
from PIL import Image

NAME = "org.freedesktop.thumbnails.Thumbnailer1"
PATH = "/org/freedesktop/thumbnails/Thumbnailer1"
TIMEOUT_SECONDS = 120


def expected_thumbnail(map_path, size):
    image = Image.open(map_path).convert("RGB")
    w, h = image.size
    longer, shorter = max(w, h), min(w, h)
    side = min(size, longer)
    other = max(1, (2 * shorter * side + longer) // (2 * longer))
    tw, th = (side, other) if w >= h else (other, side)
    pixels = image.load()
    out = []
    for j in range(th):
        for i in range(tw):
            sums, n = [0, 0, 0], 0
            for y in range(j * h // th, (j + 1) * h // th):
                for x in range(i * w // tw, (i + 1) * w // tw):
                    p = pixels[x, y]
                    sums[0] += p[0]
                    sums[1] += p[1]
                    sums[2] += p[2]
                    n += 1
            out.append(tuple((s + n // 2) // n for s in sums))
    return (tw, th), out


def cached_thumbnail(uri):
    digest = hashlib.md5(uri.encode()).hexdigest()
    return os.path.join(GLib.get_user_cache_dir(), "thumbnails", "normal", digest + ".png")


def queue(bus, uris, mime_types):
    """Queues the files and gathers the service's signals until it has finished."""
    loop = GLib.MainLoop()
    state = {"handle": None, "ready": set(), "errors": {}, "finished": False}

    def on_signal(_bus, _sender, _path, _interface, signal, parameters):
        values = parameters.unpack()
        if state["handle"] is None or values[0] != state["handle"]:
            return
        if signal == "Ready":
            state["ready"].update(values[1])
        elif signal == "Error":
            for uri in values[1]:
                state["errors"][uri] = values[3]
        elif signal == "Finished":
            state["finished"] = True
            loop.quit()

    bus.signal_subscribe(NAME, NAME, None, PATH, None, Gio.DBusSignalFlags.NONE, on_signal)
    reply = bus.call_sync(NAME, PATH, NAME, "Queue",
                          GLib.Variant("(asasssu)", (uris, mime_types, "normal", "default", 0)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None)
    state["handle"] = reply.unpack()[0]
    GLib.timeout_add_seconds(TIMEOUT_SECONDS, loop.quit)
    loop.run()
    return state


def start_service(bus, program):
    """Starts the service and waits until it owns its name on the bus."""
    service = subprocess.Popen([program])
    deadline = time.monotonic() + TIMEOUT_SECONDS
    while time.monotonic() < deadline and service.poll() is None:
        owned = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameHasOwner",
                              GLib.Variant("(s)", (NAME,)), GLib.VariantType("(b)"),
                              Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
        if owned:
            return service
        time.sleep(0.05)
    service.kill()
    sys.exit(f"FAIL: {program} did not take the name {NAME}")


def main(argv):
    size = int(argv[2])
    split = argv.index("--")
    good = [item.rsplit(":", 1) for item in argv[3:split]]
    bad = argv[split + 1:]
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    service = start_service(bus, argv[1])
    files = [Gio.File.new_for_path(world) for world, _ in good] + \
            [Gio.File.new_for_path(world) for world in bad]
    uris = [f.get_uri() for f in files]
    # The type as a file manager finds it: from the shared-mime-info database.
    mime_types = [f.query_info("standard::content-type", Gio.FileQueryInfoFlags.NONE,
                               None).get_content_type() for f in files]
    failures = []
    for uri, mime in zip(uris, mime_types):
        if mime != "application/x-wldmap-world":
            failures.append(f"{uri}: its type is {mime}, not the world type")
    try:
        state = queue(bus, uris, mime_types)
    finally:
        service.terminate()
        service.wait()
    if not state["finished"]:
        failures.append(f"the service did not finish within {TIMEOUT_SECONDS} s")
    for (world, map_path), uri in zip(good, uris):
        stored = cached_thumbnail(uri)
        if uri not in state["ready"]:
            failures.append(f"{world}: not reported ready: {state['errors'].get(uri)}")
            continue
        if not os.path.exists(stored):
            failures.append(f"{world}: no thumbnail in the service's cache")
            continue
        thumb = Image.open(stored)
        (tw, th), want = expected_thumbnail(map_path, size)
        if thumb.size != (tw, th):
            failures.append(f"{world}: stored {thumb.size}, expected {(tw, th)}")
            continue
        rgba = thumb.convert("RGBA")
        got = [p[:3] for p in rgba.getdata()]
        if any(p[3] != 255 for p in rgba.getdata()):
            failures.append(f"{world}: the stored thumbnail is not opaque")
        wrong = sum(1 for a, b in zip(got, want) if a != b)
        if wrong:
            failures.append(f"{world}: {wrong} of {tw * th} pixels differ from the rule")
        print(f"ok: {world}: {tw} x {th}, stored as {os.path.basename(stored)}")
    for world, uri in zip(bad, uris[len(good):]):
        if uri not in state["errors"]:
            failures.append(f"{world}: no error reported")
        elif os.path.exists(cached_thumbnail(uri)):
            failures.append(f"{world}: a thumbnail was stored")
        else:
            print(f"ok: {world}: refused: {state['errors'][uri]}")
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
