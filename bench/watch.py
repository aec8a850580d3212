"""The watch's benchmark: what `wldmap --watch` costs while nothing changes,
how long a render of a save takes against a plain run, whether anything grows
with the saves, and how long after a save's close its map is on disk. Writes
its section of docs/performance.md (between its two marker lines) and prints it.
    /usr/bin/python3 bench/watch.py WLDMAP REPORT LARGE_WORLD SMALL_WORLD [IDLE_SECONDS [SAVES]]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from report import write_section

BEGIN, END = "<!-- watch benchmark -->", "<!-- end of the watch benchmark -->"
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    """User and system time of a process, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


class Watch:
    """A watch of one world in a folder of its own, its output in a file."""

    def __init__(self, wldmap, world, folder, settle):
        self.folder, self.world = folder, os.path.join(folder, "world.wld")
        shutil.copyfile(world, self.world)
        with open(world, "rb") as f:
            self.bytes = f.read()
        self.log = open(os.path.join(folder, "watch.log"), "w+")
        self.process = subprocess.Popen([wldmap, "--watch", "--settle", str(settle), "world.wld"],
                                        cwd=folder, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.wait_for(1)
        self.map = next(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".png"))

    def renders(self):
        with open(self.log.name) as f:
            return f.read().count("Done!")

    def wait_for(self, renders):
        while self.renders() < renders:
            time.sleep(0.002)

    def save(self):
        """Saves the world in place, as a game does; the time of its close."""
        with open(self.world, "r+b") as f:
            f.write(self.bytes)
        return time.perf_counter()

    def stop(self):
        self.process.terminate()
        status = self.process.wait()
        self.log.close()
        return status


def plain_seconds(wldmap, world, folder, runs):
    shutil.copyfile(world, os.path.join(folder, "plain.wld"))
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([wldmap, "plain.wld"], cwd=folder, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    wldmap, report, large, small = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    idle = float(sys.argv[5]) if len(sys.argv) > 5 else 60
    saves = int(sys.argv[6]) if len(sys.argv) > 6 else 1000
    settle = 0.5
    with tempfile.TemporaryDirectory() as folder:
        plain = plain_seconds(wldmap, large, folder, 5)
        watch = Watch(wldmap, large, folder, settle)
        # Idle: no change, no time.
        before = cpu_ticks(watch.process.pid)
        time.sleep(idle)
        idle_ticks = cpu_ticks(watch.process.pid) - before
        # Each save: from its close to the new map on disk, and the render alone.
        latencies, renders = [], []
        for n in range(5):
            seen = os.stat(watch.map).st_mtime_ns
            closed = watch.save()
            while os.stat(watch.map).st_mtime_ns == seen:
                time.sleep(0.001)
            latencies.append(time.perf_counter() - closed)
            renders.append(latencies[-1] - settle)
            watch.wait_for(n + 2)
        status = watch.stop()
    with tempfile.TemporaryDirectory() as folder:
        watch = Watch(wldmap, small, folder, 0)
        first = None
        for n in range(saves):
            watch.save()
            watch.wait_for(n + 2)
            first = first or resident_kib(watch.process.pid)
        last = resident_kib(watch.process.pid)
        small_status = watch.stop()
    render = statistics.median(renders)
    lines = ["### The watch (`bench/watch.py`)", "",
             f"`wldmap --watch --settle {settle}` on the 8400 x 2400 sample, saved in place 5 times, against",
             "the median of 5 plain runs; then on a 1000 x 500 world saved "
             f"{saves} times with `--settle 0`, each save once its map is written.", "",
             "| what | measured |", "|---|---|",
             f"| processor time over {idle:.0f} idle seconds | {idle_ticks} ticks ({TICKS} a second) |",
             f"| a plain run (s) | {plain:.3f} |",
             f"| a render of a save, its close to the new map less the settle, median (s) | {render:.3f} |",
             f"| render / plain run | {render / plain:.2f} |",
             f"| a save's close to its map on disk, median (s) | {statistics.median(latencies):.3f} "
             f"(settle {settle} + render) |",
             f"| resident memory after the first save (KiB) | {first} |",
             f"| resident memory after {saves} saves (KiB) | {last} ({100 * (last - first) / first:+.1f} %) |",
             f"| exit status on SIGTERM | {status}, {small_status} |",
             ]
    write_section(report, BEGIN, END, lines)


if __name__ == "__main__":
    main()
