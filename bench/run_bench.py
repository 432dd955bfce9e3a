#!/usr/bin/python3
"""Measures the demo against the floor of this machine; prints one table.

    bench/run [--rounds N] [--quick] [--web]
    bench/run --soak SECONDS      a long run with a verdict instead

The desktop rows run in private Xvfb servers on Mesa's software renderer, with
the test probe preloaded (tests/harness/probe.cpp), and where start-up, the
rate text or the angles are read, the benchmarks' own (bench/bench_probe.cpp)
beside it. The browser rows (where build-web exists; --web for them alone) run
the installed page in each engine the browser tests use (Chromium, Firefox
ESR, WebKitGTK, through tests/harness/browser.py), with the floor or the
program with a counting heap (bench/count_allocations.cpp) in place of the
program in copies of the site, and a photo chosen on it against ImageMagick
(bench/photo_row.py). Programs that are compared take turns in the same
rounds (the order flips every round), so a slow patch of a shared machine
hits them alike; each figure is the median over the rounds with the range
beside it.
"""

import argparse
import collections
import functools
import glob
import gzip
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

import orvane_harness as h
from photo_row import photo_row

BUILD = os.environ["ORVANE_BUILD"]
PROGRAMS = {"Orvane": [h.PROGRAM], "clear+swap": [f"{BUILD}/bench/clear_swap"],
            "glxgears": [shutil.which("glxgears") or "glxgears"]}
BENCH_PROBE = {"LD_PRELOAD": f"{BUILD}/bench/libbench_probe.so"}
WEB = os.environ.get("ORVANE_WEB_BUILD", "")  # build-web, built with the benchmarks
os.environ.setdefault("ORVANE_SITE_PARTS", f"{WEB}/web/site-parts")  # what browser.make_site assembles
# Each page's program, in place of orvane.js and .wasm in the site's parts.
WEB_PROGRAMS = {"Orvane": "", "clear+swap": "bench/clear_swap", "Orvane, counting heap": "bench/orvane_counted"}
# Per engine: its name, its Debian package and how many parts of that
# package's version name a release, and how it runs.
WEB_ENGINES = {"chromium": ("Chromium", "chromium", 1, "headless"),
               "firefox": ("Firefox ESR", "firefox-esr", 1, "headless on Xvfb"),
               "webkit": ("WebKitGTK", "libwebkit2gtk-4.1-0", 2, "MiniBrowser on Xvfb")}
RESIZED = (640, 480)  # the window's size set through the page's fields
FIRST_FRAME_LOADS = 3  # loads a round that time the first frame (one of them the longer run's)
NETWORK = "Orvane, first visit"  # a fresh copy of Orvane's site each time: nothing cached, no service worker
# The state, the frames the hook has seen (count, time of the last), the
# heap's count, the lines written, ms from the page's navigation to the
# first frame (the frame's clock moved onto the page's by their origins),
# and the drawing buffer's size.
READ_PAGE = """
const inside = orvane.frame && orvane.frame.contentWindow, frames = (inside && inside.orvaneFrames) || [];
const count = inside && inside.orvaneAllocations, canvas = inside && inside.document.getElementById("canvas");
return [orvane.state, frames.length, frames[frames.length - 1], count ? count() : null, orvane.lines,
        frames.length ? inside.performance.timeOrigin + frames[0] - performance.timeOrigin : null,
        canvas ? [canvas.width, canvas.height] : null];
"""
RESIZE = """
const [width, height] = arguments;
document.getElementById("width").value = width;
document.getElementById("height").value = height;
document.getElementById("height").dispatchEvent(new Event("change"));
"""
RENDERER = """
const gl = document.createElement("canvas").getContext("webgl2"), info = gl.getExtension("WEBGL_debug_renderer_info");
return gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER);
"""


def bench_lines(program, kind):
    """The fields of bench_probe's lines of one kind ("mark", "scene")."""
    with open(program.log_path) as f:
        return [line.split()[1:] for line in f if line.startswith(kind + " ") and line.endswith("\n")]


def spread(values, digits=1):
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f}-{max(values):.{digits}f})")


def row(label, cells, note="", width=32):
    print(f"   {label:<{width}}" + "".join(f"{cell:>26}" for cell in cells) + note)


def target(what, ok):
    return f"   target {what}: {'met' if ok else 'MISSED'}"


def turns(names, rounds):
    for r in range(rounds):
        yield r, (names if r % 2 == 0 else names[::-1])


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key + ":"))


def frame_run(display, folder, name, geometry, seconds):
    """(frames/s over `seconds` after a warm-up, allocations per frame (own,
    all), peak resident MiB, anonymous MiB) of one run."""
    argv = ["-geometry", geometry or "300x300"] if geometry or name == "glxgears" else []
    with h.Program(display, folder, command=PROGRAMS[name], argv=argv) as program:
        h.wait_until(lambda: len(program.frames()) > 30 and time.monotonic() - program.started > 1,
                     "the warm-up")
        start = program.frames()[-1].time
        time.sleep(seconds)
        frames = [f for f in program.frames() if f.time > start]
        memory = [status_kib(program.process.pid, k) / 1024 for k in ("VmHWM", "RssAnon")]
    rate = (len(frames) - 1) / (frames[-1].time - frames[0].time)
    own = statistics.mean(f.own_allocs for f in frames)
    return rate, own, statistics.mean(f.own_allocs + f.library_allocs for f in frames), *memory


def first_frame(display, folder, name):
    """(ms from spawn to the first swap's return, own start-up work in ms)."""
    with h.Program(display, folder, command=PROGRAMS[name], env=BENCH_PROBE) as program:
        h.wait_until(lambda: program.frames(), "the first frame")
        log = program.log()
    m = collections.defaultdict(list)
    for t, what in bench_lines(program, "mark"):
        m[what].append(float(t))
    total = (log.frames[0].time - program.started) * 1e3
    # Each picture from its fopen to its fclose, and the list's compilation;
    # not the texture uploads between them, which are the driver's.
    spans = zip(m.get("picture-open", []) + m.get("list-begin", []),
                m.get("picture-close", []) + m.get("list-end", []))
    own = sum(end - begin for begin, end in spans) * 1e3
    return total, own


def callgrind(display, folder, name, frames=20, dumps=3):
    """(instructions per frame, of them in the program's own code) for each
    of `dumps` windows of about `frames` steady-state frames."""
    out = tempfile.mkdtemp(dir=folder)
    command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}/cg",
               "--compress-strings=no", "--compress-pos=no"] + PROGRAMS[name]
    counted = []
    with h.Program(display, folder, command=command, env={"LP_NUM_THREADS": "0"}) as program:
        program.wait_frames(30, timeout=300)
        for _ in range(dumps):
            subprocess.run(["callgrind_control", "-z", str(program.process.pid)], check=True,
                           capture_output=True)
            first = len(program.frames())
            program.wait_frames(frames, timeout=300)
            subprocess.run(["callgrind_control", "-d", str(program.process.pid)], check=True,
                           capture_output=True)
            counted.append(len(program.frames()) - first)
    own_object = os.path.realpath(PROGRAMS[name][0])
    result = []
    for path, count in zip(sorted(glob.glob(f"{out}/cg.*")), counted):
        by_object, ob, skip = collections.Counter(), None, False
        for line in open(path):
            if line[:1].isdigit() or line[:1] in "+-*":
                if not skip:  # a call line's cost is its callee's, not this function's
                    by_object[ob] += int(line.split()[-1])
                skip = False
            elif line.startswith("ob="):
                ob = os.path.realpath(line[3:].strip())
            elif line.startswith("calls="):
                skip = True
        result.append((sum(by_object.values()) / count, by_object[own_object] / count))
    return result


def loading(folder, rounds, reps=11):
    """{picture: ([ours ms], [Pillow ms])}, one median per round each."""
    times = collections.defaultdict(lambda: ([], []))
    for _, order in turns(["ours", "Pillow"], rounds):
        for who in order:
            if who == "ours":
                out = subprocess.run([f"{BUILD}/bench/loader_bench", folder, "--benchmark_format=json",
                                      f"--benchmark_repetitions={reps}",
                                      "--benchmark_report_aggregates_only=true"],
                                     check=True, capture_output=True, text=True).stdout
                for b in json.loads(out)["benchmarks"]:
                    if b["aggregate_name"] == "median":
                        times[b["run_name"]][0].append(b["real_time"])
                continue
            for name in times or ["noise-4096.bmp", "sunset-512.bmp", "colormap-256.bmp"]:
                samples = []
                for _ in range(reps):
                    start = time.perf_counter()
                    with Image.open(os.path.join(folder, name)) as image:
                        image.convert("RGB")
                    samples.append((time.perf_counter() - start) * 1e3)
                times[name][1].append(statistics.median(samples))
    return times


def wine_run(display, folder, exe, seconds):
    """(ms from spawn to the first swap, frames/s over `seconds` after a
    warm-up) of the Windows program under Wine, its swaps read from Wine's
    own trace of them."""
    env = {"WINEDEBUG": "+timestamp,trace+wgl"}
    with h.Program(display, folder, command=[exe], env=env) as program:
        def swaps():
            found = re.findall(r"^(\d+\.\d+):\S*?trace:wgl:glxdrv_wglSwapBuffers", program.stderr(), re.M)
            return [float(t) for t in found]
        h.wait_until(swaps, "the first frame", timeout=120, interval=0.005)
        first = (time.monotonic() - program.started) * 1e3
        h.wait_until(lambda: len(swaps()) > 30, "the warm-up")
        start = swaps()[-1]
        time.sleep(seconds)
        window = [t for t in swaps() if t > start]
    return first, (len(window) - 1) / (window[-1] - window[0])


def web_window(read, seconds):
    """(frames/s, heap allocations per frame or None) over `seconds` of a
    running page, from the frame the hook saw last."""
    _, first, start, before, *_ = read()
    time.sleep(seconds)
    state, last, end, after, lines, *_ = read()
    if state != "running":
        raise RuntimeError(f"the program is {state}: {lines}")
    return 1e3 * (last - first) / (end - start), None if after is None else (after - before) / (last - first)


def web_run(browser, url, blank, seconds):
    """One load of a page: (frames/s over `seconds` after a warm-up, ms from
    the navigation to the first frame, and where the heap counts: heap
    allocations by the warm-up, per frame after it, and per frame once the
    window has been resized and has settled, else None)."""
    read = functools.partial(browser.js, READ_PAGE)
    browser.go(url)
    loaded = time.monotonic()
    h.wait_until(lambda: read()[1] > 30 and time.monotonic() - loaded > 1, f"the warm-up of {url}", 60)
    _, _, _, allocations, _, first_frame, _ = read()
    rate, per_frame = web_window(read, seconds)
    resized = None
    if allocations is not None:
        browser.js(RESIZE, *RESIZED)
        # Settled: the buffer has the new size and 30 frames have been drawn in it.
        frames = h.wait_until(lambda: (page := read())[6] == list(RESIZED) and page[1], "the new size", 60)
        h.wait_until(lambda: read()[1] > frames + 30, "frames at the new size", 60)
        resized = web_window(read, seconds)[1]
    browser.go(blank)  # the program ends before the next one runs
    return rate, first_frame, allocations, per_frame, resized


def web_first_frame(browser, url, blank):
    """ms from the navigation to the first frame in one more load of a page."""
    browser.go(url)
    first = browser.wait("const inside = window.orvane.frame?.contentWindow;"
                         "return inside?.orvaneFrames?.length > 0 &&"
                         " inside.performance.timeOrigin + inside.orvaneFrames[0] - performance.timeOrigin",
                         f"the first frame of {url}")
    browser.go(blank)
    return first


def web_engine(engine, names, folder, rounds, seconds):
    """({program: [web_run's figures, one a round]}, {program: [ms to the
    first frame, FIRST_FRAME_LOADS a round]} of Orvane and the floor, and of
    Orvane's first visits (NETWORK), the WebGL renderer) in one engine. Each
    page is loaded once first, unmeasured, until its service worker has it,
    so that each finds the browser's caches as the others do and later loads
    come from the service worker's cache. Between loads the browser shows an
    empty page of the same server: leaving another site, Chromium starts a
    renderer process (hundreds of ms, at random), which would drown the
    difference."""
    import browser  # Selenium and WebDriver BiDi, only for this row
    runs, firsts = collections.defaultdict(list), collections.defaultdict(list)
    with browser.serve(folder) as address, browser.open_browser(engine) as page:
        urls, blank = {name: f"{address}{names.index(name)}/index.html" for name in names}, f"{address}blank.html"
        for name in names:
            page.go(urls[name])
            page.wait("return window.orvane.frame?.contentWindow.orvaneFrames?.length > 0 &&"
                      " Boolean(navigator.serviceWorker.controller)", f"the first frame of {urls[name]}")
        renderer = page.js(RENDERER)
        page.go(blank)
        for number, order in turns(names, rounds):
            for name in order:
                runs[name].append(web_run(page, urls[name], blank, seconds))
                firsts[name].append(runs[name][-1][1])
            for _ in range(FIRST_FRAME_LOADS - 1):
                for name in (n for n in order if n in names[:2]):
                    firsts[name].append(web_first_frame(page, urls[name], blank))
            for load in range(FIRST_FRAME_LOADS):
                fresh = f"fresh-{engine}-{number}-{load}"
                shutil.copytree(os.path.join(folder, "0"), os.path.join(folder, fresh))
                firsts[NETWORK].append(web_first_frame(page, f"{address}{fresh}/index.html", blank))
    return runs, firsts, renderer


def site_bytes(site):
    """The site's size in bytes: raw, and each file gzip-compressed as a host sends it."""
    files = [os.path.join(site, name) for name in os.listdir(site)]
    return sum(map(os.path.getsize, files)), sum(len(gzip.compress(open(f, "rb").read(), 9)) for f in files)


def web_row(rounds, seconds):
    """The browser row, in each engine the browser tests use: frames/s and
    the time to the first frame of the page with Orvane and with the floor,
    from the service worker's cache, and of Orvane's first visit, from the
    network; heap allocations per frame before and after a resize; and the
    size of the site."""
    import browser
    names, folder = list(WEB_PROGRAMS), tempfile.mkdtemp(prefix="orvane-sites-")
    for name, build in WEB_PROGRAMS.items():
        browser.make_site(os.path.join(folder, str(names.index(name))), os.path.join(WEB, build) if build else None)
    with open(os.path.join(folder, "blank.html"), "w") as f:
        f.write('<!doctype html><html lang="en"><head><title>Between loads</title>'
                '<link rel="icon" href="data:,"></head></html>\n')
    width = 42
    print(f"6. Browser, the page's 300x300, {rounds} x {seconds} s".ljust(width + 3)
          + "".join(f"{n:>26}" for n in names))
    try:
        for engine, (label, package, parts, how) in WEB_ENGINES.items():
            runs, firsts, renderer = web_engine(engine, names, folder, rounds, seconds)
            version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                     capture_output=True, text=True).stdout.split(".")[:parts]
            if renderer.startswith("ANGLE ("):  # ANGLE (vendor, API (device), driver): the driver
                renderer = renderer[:-1].split(", ")[-1]
            print(f" {label} {'.'.join(version)}, {how}; WebGL 2 on {renderer}")
            counted = runs[names[2]]
            row("frames/s", [spread([r[0] for r in runs[n]]) for n in names], width=width)
            row(f"navigation .. first frame (ms), {FIRST_FRAME_LOADS} a round",
                [spread(firsts[n]) for n in names[:2]] + ["-"], width=width)
            row("  first visit, from the network", [spread(firsts[NETWORK]), "-", "-"], width=width)
            row("heap allocations to warm-up", ["-", "-", spread([r[2] for r in counted], 0)], width=width)
            after = [r[3] for r in counted]
            row("heap allocations per frame", ["-", "-", spread(after, 2)],
                target("none after start-up", max(after) == 0), width=width)
            resized = [r[4] for r in counted]
            row("  once resized to %dx%d and settled" % RESIZED, ["-", "-", spread(resized, 2)],
                target("none", max(resized) == 0), width=width)
            ratio = [a[0] / b[0] for a, b in zip(runs["Orvane"], runs["clear+swap"])]
            row("Orvane / clear+swap frames/s", [spread(ratio, 3)],
                target(">=0.8x", statistics.median(ratio) >= 0.8), width=width)
            ratio = [a / b for a, b in zip(firsts["Orvane"], firsts["clear+swap"])]
            row("Orvane / clear+swap to the first frame", [spread(ratio, 3)],
                target("<=1.25x", statistics.median(ratio) <= 1.25), width=width)
    finally:
        shutil.rmtree(folder, True)
    raw, compressed = site_bytes(f"{WEB}/site")
    row("the site, KB raw / gzip-compressed", [f"{raw / 1e3:.1f}", f"{compressed / 1e3:.1f}"], width=width)
    program = sum(os.path.getsize(f"{WEB}/{file}") for file in ("orvane.js", "orvane.wasm")) / 1e3
    row("orvane.js + orvane.wasm, KB", [f"{program:.1f}"], target("<400 KB", program < 400), width=width)


def soak(seconds, slack_kib=1024):
    """The demo for a long time, sampled every second; a verdict on memory,
    allocations, the rate text and the rotation. Exit status 0 when all hold."""
    folder, memory = h.scratch_folder(), []
    with h.Display() as display, h.Program(display, folder, env=BENCH_PROBE) as program:
        window = program.window()
        while time.monotonic() - program.started < seconds and program.running():
            time.sleep(1.0)
            memory.append(status_kib(program.process.pid, "VmRSS"))
        status = program.close(window)
    frames = program.log().frames
    scenes = [(float(t), float(x), float(y), " ".join(text)) for t, x, y, *text in bench_lines(program, "scene")]
    changes = [b[0] for a, b in zip(scenes, scenes[1:]) if a[3] != b[3]]
    gaps = [b - a for a, b in zip(changes, changes[1:])] or [seconds]
    steps = {(round(b[1] - a[1], 9), round(b[2] - a[2], 9)) for a, b in zip(scenes, scenes[1:])}
    own = sum(f.own_allocs for f in frames[50:])
    warm = memory[min(30, len(memory) - 1)]
    verdicts = {
        f"exit status {status}": status == 0,
        f"resident {warm} KiB after 30 s, {memory[-1]} KiB at the end": memory[-1] - warm <= slack_kib,
        f"own allocations after start-up: {own}": own == 0,
        f"{len(changes)} rate texts, longest gap {max(gaps):.2f} s": max(gaps) < 1.5,
        f"{len(scenes)} frames, angle steps {sorted(steps)}": steps <= {(0.5, 0.2), (0.0, 0.0)},
    }
    for what, good in verdicts.items():
        print(f"{'ok  ' if good else 'FAIL'} {what}")
    shutil.rmtree(folder, True)
    return 0 if all(verdicts.values()) else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs")
    parser.add_argument("--soak", type=float, metavar="SECONDS", help="a long run instead")
    parser.add_argument("--web", action="store_true", help="the browser row alone")
    args = parser.parse_args()
    if args.soak:
        return soak(args.soak)
    rounds, seconds = (2, 1.0) if args.quick else (args.rounds, 2.5)
    if args.web:
        if not WEB:
            return "bench/run --web: no build-web"
        web_row(rounds, seconds)
        return photo_row(WEB, BUILD, rounds, row, spread, target, turns)
    began = time.monotonic()
    folder = h.scratch_folder()
    names = list(PROGRAMS)
    print("Orvane benchmarks: Xvfb + Mesa llvmpipe; median (min-max) over runs taking turns")
    with h.Display(1600, 900) as display:
        for label, geometry in (("300x300", None), ("1280x720", "1280x720")):
            runs = collections.defaultdict(list)
            for _, order in turns(names, rounds):
                for name in order:
                    runs[name].append(frame_run(display, folder, name, geometry, seconds))
            print(f"1. {label}, {rounds} x {seconds} s      " + "".join(f"{n:>26}" for n in names))
            for i, what in enumerate(["frames/s", "allocations per frame, own",
                                      "allocations per frame, all", "peak resident MiB",
                                      "anonymous MiB at the end"]):
                row(what, [spread([r[i] for r in runs[n]]) for n in names])
            ratio = [a[0] / b[0] for a, b in zip(runs["Orvane"], runs["clear+swap"])]
            row("Orvane / clear+swap frames/s", [spread(ratio, 3)])

        starts = collections.defaultdict(list)
        for _, order in turns(names, rounds + 4):
            for name in order:
                starts[name].append(first_frame(display, folder, name))
        totals = {n: [t for t, _ in starts[n]] for n in names}
        print("2. Time to first frame (ms)      " + "".join(f"{n:>26}" for n in names))
        row("spawn .. first swap returned", [spread(totals[n]) for n in names])
        share = [100 * own / total for total, own in starts["Orvane"]]
        row("own start-up work, % of total", [spread(share, 2)],
            target("<5%", statistics.median(share) < 5))

        print("3. Picture loading (ms)          " + f"{'Orvane':>26}{'Pillow':>26}{'Pillow/Orvane':>16}")
        for name, (ours, pillow) in loading(folder, rounds).items():
            ratio = statistics.median(pillow) / statistics.median(ours)
            row(name, [spread(ours, 3), spread(pillow, 3)],
                f"{ratio:>15.2f}x" + target(">=1.5x", ratio >= 1.5))

        work = {n: callgrind(display, folder, n) for n in ("Orvane", "clear+swap")}
        print("4. Work per frame, callgrind, 3 x 20 frames" + "".join(f"{n:>26}" for n in work))
        row("instructions per frame (M)", [spread([t / 1e6 for t, _ in work[n]], 3) for n in work],
            width=42)
        own = [100 * o / t for t, o in work["Orvane"]]
        row("own code, % of the instructions", [spread(own, 4)],
            target("<1%", statistics.median(own) < 1), width=42)
        exe = os.path.join(os.path.dirname(BUILD), "build-windows", "orvane.exe")
        if os.path.exists(exe):
            runs = collections.defaultdict(list)
            for _, order in turns(["Linux", "Wine"], rounds):
                for who in order:
                    if who == "Wine":
                        runs[who].append(wine_run(display, folder, exe, seconds))
                    else:
                        total, _ = first_frame(display, folder, "Orvane")
                        runs[who].append((total, frame_run(display, folder, "Orvane", None, seconds)[0]))
            print("5. The Windows program under Wine   " + f"{'Linux':>26}{'Wine':>26}{'Wine/Linux':>16}")
            for i, what in enumerate(["ms to the first frame", "frames/s, 300x300"]):
                medians = [statistics.median(r[i] for r in runs[w]) for w in ("Linux", "Wine")]
                row(what, [spread([r[i] for r in runs[w]]) for w in ("Linux", "Wine")],
                    f"{medians[1] / medians[0]:>15.2f}x")

    if WEB:
        web_row(rounds, seconds)
        photo_row(WEB, BUILD, rounds, row, spread, target, turns)
    else:
        print("6. Browser: no build-web (scripts/build-web makes it)")
    shutil.rmtree(folder, True)
    print(f"{os.cpu_count()} CPUs; bench took {time.monotonic() - began:.0f} s")


if __name__ == "__main__":
    sys.exit(main())
