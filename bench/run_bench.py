#!/usr/bin/python3
"""Measures the demo against the floor of what this machine can do; one table.

    /usr/bin/python3 bench/run_bench.py BUILD_DIR [--rounds N] [--quick]

BUILD_DIR is a release build with ORVANE_BUILD_BENCHMARKS=ON (bench/run makes
one). Everything runs in private Xvfb servers on Mesa's software renderer.
Programs that are compared run in the same rounds, taking turns (the order
flips every round), so that a slow patch of a shared machine hits all of them;
each figure is the median over rounds with the range (min-max) beside it.

1. Frame rate: swaps per second counted by bench_probe (a preload that
   timestamps every glXSwapBuffers), over a fixed window after a warm-up,
   for the demo, bench/clear_swap (clear + swap only) and glxgears, at the
   default window size and at 1280x720. Also the demo with glutGet's window
   size answered from the last reshape instead of the X server (an
   experiment showing what those per-frame round trips cost).
2. Time to first frame: from just before the process is spawned to the
   return of its first glXSwapBuffers, split at the probe's marks.
3. Picture loading: bench/loader_vs_pillow.py.
4. Work per frame: valgrind --tool=callgrind over fixed windows of frames in
   steady state; instructions by object, and calls to the allocation
   functions by the object that calls them.
5. Peak resident memory (VmHWM) at the end of each frame-rate run.
"""

import argparse
import collections
import contextlib
import glob
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tools"))

import loader_vs_pillow  # noqa: E402
from xharness import VirtualDisplay  # noqa: E402

SCREEN = (1600, 900)  # room for a 1280x720 window
SIZES = [("default", None), ("1280x720", "1280x720")]

# bench_probe's record: 20 marks, the swap count, then the swap times.
MARKS = ["loaded", "init_enter", "init_return", "window_enter", "window_return",
         "first_picture_open", "last_set_up_event", "picture_seconds", "pictures",
         "upload_seconds", "uploads", "list_seconds", "lists", "first_clear",
         "first_swap", "glutget_seconds", "glutget_calls", "unused1", "unused2", "unused3"]
HEADER = struct.Struct(f"={len(MARKS)}dQ")
SWAP_TIMES = 1 << 16


def log(message):
    print(message, file=sys.stderr, flush=True)


def spread(values, digits=1, scale=1.0):
    """'median (min-max)' of values times scale."""
    v = [x * scale for x in values]
    fmt = f"{{:.{digits}f}}"
    return f"{fmt.format(statistics.median(v))} ({fmt.format(min(v))}-{fmt.format(max(v))})"


def median(values):
    return statistics.median(values)


class Probe:
    """Reads what bench_probe wrote into its file."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if len(data) < HEADER.size:
            raise ValueError("probe file not written yet")
        values = HEADER.unpack_from(data)
        self.marks = dict(zip(MARKS, values[:len(MARKS)]))
        self.swaps = values[len(MARKS)]
        kept = min(self.swaps, SWAP_TIMES)
        self.swap_times = struct.unpack_from(f"={kept}d", data, HEADER.size)


class Runner:
    """Starts programs with the probe in one Xvfb and waits for their frames."""

    def __init__(self, build, display, work):
        self.build = build
        self.display = display
        self.work = work
        self.probe_lib = os.path.join(build, "bench", "libbench_probe.so")
        self.probe_file = os.path.join(work, "run.probe")
        self.cache = os.path.join(work, "shader-cache")
        self.errors = os.path.join(work, "run.stderr")

    def programs(self):
        return {
            "orvane": [os.path.join(self.build, "orvane")],
            "clear_swap": [os.path.join(self.build, "bench", "clear_swap")],
            "glxgears": [shutil.which("glxgears") or "/usr/bin/glxgears"],
        }

    def argv(self, program, geometry):
        argv = list(self.programs()[program])
        # glxgears has a default size of its own; name the GLUT default.
        if geometry or program == "glxgears":
            argv += ["-geometry", geometry or "300x300"]
        return argv

    def env(self, extra=None):
        env = self.display.env({
            "LD_PRELOAD": self.probe_lib,
            "BENCH_PROBE_FILE": self.probe_file,
            # A shader cache of the bench's own, primed before timing: the
            # figures are those of a second start, never of the user's cache.
            "MESA_SHADER_CACHE_DIR": self.cache,
        })
        env.update(extra or {})
        return env

    def spawn(self, argv, extra_env=None):
        with contextlib.suppress(FileNotFoundError):
            os.unlink(self.probe_file)
        env = self.env(extra_env)
        actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 2, self.errors, os.O_WRONLY | os.O_CREAT | os.O_TRUNC,
                    0o644)]
        started = time.monotonic()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
        return pid, started

    def wait_for_swaps(self, pid, count=1, timeout=60.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with contextlib.suppress(FileNotFoundError, ValueError):
                probe = Probe(self.probe_file)
                if probe.swaps >= count:
                    return probe
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                with open(self.errors, errors="replace") as f:
                    said = f.read()[-1500:]
                raise RuntimeError(f"it ended early (wait status {status}):\n{said}")
            time.sleep(0.005)
        raise TimeoutError("no frame within the time allowed")

    @staticmethod
    def stop(pid):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, 15)
        os.waitpid(pid, 0)

    def retried(self, measure, argv, *args):
        """A run that fails (a busy machine can make a server or a program
        give up) is reported and tried again, twice at most."""
        for attempt in range(3):
            try:
                return measure(argv, *args)
            except (RuntimeError, TimeoutError) as failure:
                log(f"{' '.join(argv)}: {failure}")
                if attempt == 2:
                    raise
                log("trying again")

    def first_frame(self, argv, extra_env=None):
        pid, started = self.spawn(argv, extra_env)
        try:
            self.wait_for_swaps(pid)
        finally:
            self.stop(pid)
        probe = Probe(self.probe_file)
        return started, probe

    def frame_rate(self, argv, warm_up, window, extra_env=None):
        """Frames per second over `window` seconds after `warm_up`; the
        process's peak resident memory and its anonymous part at the end, in
        KiB; and the time per frame spent in glutGet, in microseconds."""
        pid, _ = self.spawn(argv, extra_env)
        try:
            first = self.wait_for_swaps(pid).marks["first_swap"]
            time.sleep(max(0.0, first + warm_up + window + 0.05 - time.monotonic()))
            with open(f"/proc/{pid}/status") as f:
                status = dict(line.split(":", 1) for line in f)
            memory = tuple(int(status[key].split()[0]) for key in ("VmHWM", "RssAnon"))
        finally:
            self.stop(pid)
        probe = Probe(self.probe_file)
        times = [t for t in probe.swap_times
                 if first + warm_up <= t <= first + warm_up + window]
        if len(times) < 3:
            raise RuntimeError(f"{argv[0]}: only {len(times)} frames in the window")
        return {"fps": (len(times) - 1) / (times[-1] - times[0]),
                "peak": memory[0], "anon": memory[1],
                "glutget_us": probe.marks["glutget_seconds"] * 1e6 / probe.swaps}


# ---------------------------------------------------------------- callgrind

ALLOCATORS = re.compile(r"^(malloc|calloc|realloc|reallocarray|memalign|aligned_alloc|"
                        r"posix_memalign|valloc|pvalloc|operator new(\[\])?\(.*\))$")


def read_callgrind(path):
    """(instructions by object, allocation calls by calling object) of one dump.

    Needs a dump written with --compress-strings=no --compress-pos=no.
    """
    instructions = collections.Counter()
    allocations = collections.Counter()
    ob = callee = None
    call_cost_next = False
    with open(path) as f:
        for line in f:
            first = line[:1]
            if first.isdigit() or first in "+-*":
                if call_cost_next:  # inclusive cost of the call: not this function's own
                    call_cost_next = False
                else:
                    instructions[ob] += int(line.split()[-1])
                continue
            key, _, value = line.rstrip("\n").partition("=")
            if key == "ob":
                ob = value
            elif key == "cfn":
                callee = value
            elif key == "calls":
                call_cost_next = True
                if ALLOCATORS.match(callee or ""):
                    allocations[ob] += int(value.split()[0])
    return instructions, allocations


def callgrind(runner, program, work, warm_up, frames, dumps, extra_env=None):
    """Per-frame figures of each dump: [(instructions, own, allocations, own allocations)]."""
    out = tempfile.mkdtemp(prefix=f"callgrind-{program}-", dir=work)
    executable = runner.programs()[program][0]
    argv = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}/cg.%p",
            "--dump-line=no", "--compress-strings=no", "--compress-pos=no",
            executable]
    env = runner.env({"BENCH_CALLGRIND": f"{warm_up}:{frames}:{dumps}", **(extra_env or {})})
    done = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, timeout=400)
    files = sorted(glob.glob(f"{out}/cg.*.*"), key=lambda p: int(p.rsplit(".", 1)[1]))
    if len(files) < dumps:
        raise RuntimeError(f"callgrind of {program} wrote {len(files)} dumps:\n"
                           + done.stderr[-2000:])
    own = os.path.realpath(executable)
    result = []
    for path in files[:dumps]:
        instructions, allocations = read_callgrind(path)
        own_instructions = sum(v for ob, v in instructions.items()
                               if ob and os.path.realpath(ob) == own)
        own_allocations = sum(v for ob, v in allocations.items()
                              if ob and os.path.realpath(ob) == own)
        result.append((sum(instructions.values()) / frames, own_instructions / frames,
                       sum(allocations.values()) / frames, own_allocations / frames))
    return result


# ---------------------------------------------------------------- phases

def phases(started, probe):
    """Time-to-first-frame phases in ms, in the order they happen."""
    m = probe.marks
    ms = 1000.0
    window_done = m["window_return"]
    set_up_done = max(window_done, m["last_set_up_event"])
    set_up_parts = m["picture_seconds"] + m["upload_seconds"] + m["list_seconds"]
    return collections.OrderedDict([
        ("exec", (m["loaded"] - started) * ms),
        ("init", (m["init_return"] - m["loaded"]) * ms),
        ("window", (window_done - m["init_return"]) * ms),
        ("pictures", m["picture_seconds"] * ms),
        ("upload", m["upload_seconds"] * ms),
        ("list", m["list_seconds"] * ms),
        ("other_set_up", (set_up_done - window_done - set_up_parts) * ms),
        ("main_loop", (m["first_clear"] - set_up_done) * ms),
        ("first_frame", (m["first_swap"] - m["first_clear"]) * ms),
        ("total", (m["first_swap"] - started) * ms),
    ])


# ---------------------------------------------------------------- table

class Table:
    WIDTHS = (47, 21, 21, 21, 16, 12)

    def __init__(self):
        self.lines = []

    def row(self, *cells):
        cells = [str(c) for c in cells] + [""] * (len(self.WIDTHS) - len(cells))
        text = cells[0].ljust(self.WIDTHS[0])
        for cell, width in zip(cells[1:], self.WIDTHS[1:]):
            text += " " + cell.rjust(width)
        self.lines.append(text.rstrip())

    def rule(self):
        self.lines.append("-" * (sum(self.WIDTHS) + len(self.WIDTHS) - 1))

    def text(self):
        return "\n".join(self.lines)


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="release build directory with the benchmarks")
    parser.add_argument("--rounds", type=int, default=7, help="frame-rate rounds")
    parser.add_argument("--start-rounds", type=int, default=11, help="time-to-first-frame rounds")
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs (a smoke test)")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    rounds, start_rounds = args.rounds, args.start_rounds
    warm_up, window = 0.75, 2.5
    loader_rounds, loader_reps = 7, 11
    cg_warm_up, cg_frames, cg_dumps = 20, 10, 3
    if args.quick:
        rounds, start_rounds, warm_up, window = 2, 3, 0.3, 0.5
        loader_rounds, loader_reps = 2, 5
        cg_warm_up, cg_frames, cg_dumps = 5, 3, 2

    # The demo reads its pictures from the working directory: the build's.
    os.chdir(build)
    for needed in ["orvane", "sunset.bmp", "colormap.bmp", "bench/clear_swap",
                   "bench/libbench_probe.so", "bench/loader_bench"]:
        if not os.path.exists(needed):
            sys.exit(f"{os.path.join(build, needed)} is missing: build with "
                     "-DORVANE_BUILD_BENCHMARKS=ON first (bench/run does)")
    for tool in ["glxgears", "valgrind", "Xvfb"]:
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: run scripts/setup-deps")

    work = tempfile.mkdtemp(prefix="orvane-bench-")
    began = time.monotonic()
    try:
        with VirtualDisplay(*SCREEN) as display:
            runner = Runner(build, display, work)

            # Prime the shader cache and the file cache; nothing is timed.
            for program in ["orvane", "clear_swap", "glxgears"]:
                for _, geometry in SIZES:
                    runner.retried(runner.frame_rate, runner.argv(program, geometry), 0.2, 0.3)

            # 1 and 5: frame rate and peak memory.
            configs = []
            for size, geometry in SIZES:
                for program in ["orvane", "orvane_cached_size", "clear_swap", "glxgears"]:
                    configs.append((program, size, geometry))
            runs = collections.defaultdict(list)
            for r in range(rounds):
                order = configs if r % 2 == 0 else configs[::-1]
                for program, size, geometry in order:
                    extra = None
                    name = program
                    if program == "orvane_cached_size":
                        name, extra = "orvane", {"BENCH_CACHED_WINDOW_SIZE": "1"}
                    runs[program, size].append(
                        runner.retried(runner.frame_rate, runner.argv(name, geometry), warm_up,
                                       window, extra))
                log(f"frame rate: round {r + 1}/{rounds} done")

            # 2: time to first frame.
            starts = collections.defaultdict(list)
            kinds = [("orvane", None), ("clear_swap", None), ("glxgears", None),
                     ("orvane_no_cache", {"MESA_SHADER_CACHE_DISABLE": "true"})]
            for r in range(start_rounds):
                for kind, extra in (kinds if r % 2 == 0 else kinds[::-1]):
                    program = "orvane" if kind.startswith("orvane") else kind
                    started, probe = runner.retried(runner.first_frame,
                                                    runner.argv(program, None), extra)
                    starts[kind].append(phases(started, probe))
            log(f"time to first frame: {start_rounds} rounds done")

            # 4: work per frame under callgrind.
            cg = {}
            for kind, extra in [("orvane", None), ("clear_swap", None),
                                ("orvane_cached_size", {"BENCH_CACHED_WINDOW_SIZE": "1"})]:
                program = "orvane" if kind.startswith("orvane") else kind
                cg[kind] = callgrind(runner, program, work, cg_warm_up, cg_frames, cg_dumps,
                                     extra)
                log(f"callgrind: {kind} done")

        # 3: picture loading, no display needed.
        loading = loader_vs_pillow.measure(os.path.join(build, "bench", "loader_bench"),
                                           loader_rounds, loader_reps, progress=False)
        log("picture loading done")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    t = Table()
    t.lines.append("Orvane benchmarks: Xvfb + Mesa llvmpipe; median (min-max) over runs that "
                   "take turns; in 1., ratios per round")
    t.rule()

    # 1. Frame rate.
    def series(program, size, key):
        return [run[key] for run in runs[program, size]]

    def paired(program, reference, size, key="fps"):
        """Per-round ratios program/reference: the runs of one round are neighbours."""
        return [a / b for a, b in zip(series(program, size, key), series(reference, size, key))]

    t.row("1. Frame rate (frames/s)", "Orvane", "clear+swap", "glxgears", "ratio", "")
    for size, _ in SIZES:
        o, c, g = (series(p, size, "fps") for p in ("orvane", "clear_swap", "glxgears"))
        label = "300x300 (GLUT default)" if size == "default" else size
        t.row(f"   {label}, {rounds} x {window:g} s; Orvane/floor", spread(o, 0), spread(c, 0),
              spread(g, 0), spread(paired("orvane", "clear_swap", size), 2))
        t.row("   ms per frame", spread([1000 / x for x in o], 2),
              spread([1000 / x for x in c], 2), spread([1000 / x for x in g], 2))
        waits = series("orvane", size, "glutget_us")
        share = [w / (1e6 / f) * 100 for w, f in zip(waits, o)]
        t.row("   in glutGet, us per frame; % of frame time", spread(waits, 0), "", "",
              spread(share, 1))
        t.row("   what-if: size from reshape; what-if/Orvane",
              spread(series("orvane_cached_size", size, "fps"), 0), "", "",
              spread(paired("orvane_cached_size", "orvane", size), 3))
    t.rule()

    # 2. Time to first frame.
    t.row(f"2. Time to first frame (ms), {start_rounds} runs", "Orvane", "clear+swap",
          "glxgears", "", "")
    labels = [
        ("exec", "   spawn .. libraries loaded and linked"),
        ("init", "   glutInit (X connection, GL driver load)"),
        ("window", "   glutCreateWindow (window, GL context)"),
        ("pictures", "   picture loading (2 files: fopen..fclose)"),
        ("upload", "   texture upload (2 x glTexImage2D)"),
        ("list", "   list compilation (glNewList..glEndList)"),
        ("other_set_up", "   other set-up calls"),
        ("main_loop", "   main loop: first reshape .. first glClear"),
        ("first_frame", "   first frame: glClear .. swap returned"),
        ("total", "   total: spawn .. first swap returned"),
    ]
    glut_only = {"pictures", "upload", "list", "other_set_up"}
    for key, label in labels:
        o = [p[key] for p in starts["orvane"]]
        c = [p[key] for p in starts["clear_swap"]]
        g = [p[key] for p in starts["glxgears"]]
        t.row(label, spread(o, 2 if key in glut_only else 1),
              "" if key in glut_only else spread(c, 1),
              spread(g, 1) if key == "total" else "",
              f"{median(o) / median(c):.2f}x" if key == "total" else "")
    cold = [p["total"] for p in starts["orvane_no_cache"]]
    cold_first = [p["first_frame"] for p in starts["orvane_no_cache"]]
    t.row("   total, Mesa shader cache off", spread(cold, 1))
    t.row("   of which first frame (shaders compiled)", spread(cold_first, 1))
    own_share = [100 * (p["pictures"] + p["list"]) / p["total"] for p in starts["orvane"]]
    t.row("   own start-up work (loading + list), % total", spread(own_share, 2), "", "", "",
          f"<5% {verdict(median(own_share) < 5)}")
    t.rule()

    # 3. Picture loading.
    t.row(f"3. Picture loading (ms), {loader_rounds} runs x {loader_reps}", "Orvane", "",
          "Pillow", "Pillow/Orvane", "")
    for name in loader_vs_pillow.PICTURES:
        ours, theirs = loading[name]["ours"], loading[name]["pillow"]
        ratio = median(theirs) / median(ours)
        t.row(f"   {name}", spread(ours, 3), "", spread(theirs, 3), f"{ratio:.2f}x",
              f">=1.5x {verdict(ratio >= 1.5)}")
    t.rule()

    # 4. Work per frame.
    t.row(f"4. Work per frame, callgrind, {cg_dumps} x {cg_frames} frames", "Orvane",
          "clear+swap", "what-if as in 1.", "Orvane/floor", "")
    o, c, w = cg["orvane"], cg["clear_swap"], cg["orvane_cached_size"]
    t.row("   instructions per frame, whole process (M)", spread([x[0] for x in o], 2, 1e-6),
          spread([x[0] for x in c], 3, 1e-6), spread([x[0] for x in w], 2, 1e-6),
          f"{median([x[0] for x in o]) / median([x[0] for x in c]):.1f}x")
    t.row("   in the program's own code", spread([x[1] for x in o], 0))
    share = [100 * x[1] / x[0] for x in o]
    t.row("   own code, % of the frame's instructions", spread(share, 4), "", "", "",
          f"<1% {verdict(median(share) < 1)}")
    t.row("   heap allocations per frame, own code", spread([x[3] for x in o], 1),
          spread([x[3] for x in c], 1), "", "", f"0 {verdict(max(x[3] for x in o) == 0)}")
    t.row("   heap allocations per frame, whole process", spread([x[2] for x in o], 1),
          spread([x[2] for x in c], 1), spread([x[2] for x in w], 1))
    t.rule()

    # 5. Memory.
    t.row("5. Peak resident memory (MiB)", "Orvane", "clear+swap", "glxgears", "Orvane-floor")
    for size, _ in SIZES:
        label = "300x300" if size == "default" else size
        for key, text in (("peak", f"   {label}, {rounds} runs (VmHWM)"),
                          ("anon", "   of which anonymous (heap etc.) at the end")):
            o, c, g = (series(p, size, key) for p in ("orvane", "clear_swap", "glxgears"))
            t.row(text, spread(o, 1, 1 / 1024), spread(c, 1, 1 / 1024), spread(g, 1, 1 / 1024),
                  f"+{(median(o) - median(c)) / 1024:.1f}")
    t.rule()
    t.lines.append(f"{os.cpu_count()} CPUs; bench took {time.monotonic() - began:.0f} s")
    print(t.text())


if __name__ == "__main__":
    main()
