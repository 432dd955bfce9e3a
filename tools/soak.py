"""Soak run: the demo in a private Xvfb for a long time (default 10 minutes),
watched from outside. Every second it samples the program's resident memory
and the frames presented; at the end it prints a table and a verdict:

  memory flat      resident memory after the warm-up grows by at most --slack
  no allocations   no heap allocation of the program's own in any frame
                   after start-up
  rate refreshed   the rate text changed about once a second all along
  angles growing   each frame still turns the ring by 0.5 and 0.2 degrees

    /usr/bin/python3 tools/soak.py [--seconds 600] [--build build]

Needs a build with the tools and test probes (scripts/build). Exit status 0
when every verdict holds.
"""

import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xharness import VirtualDisplay  # noqa: E402


class LogTail:
    """The complete lines added to a growing file since the last call."""

    def __init__(self, path):
        self.path, self.offset, self.partial = path, 0, ""

    def lines(self):
        try:
            with open(self.path) as f:
                f.seek(self.offset)
                chunk = f.read()
                self.offset = f.tell()
        except FileNotFoundError:
            return []
        chunk = self.partial + chunk
        *complete, self.partial = chunk.split("\n")
        return complete


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def angle_step(a, b):
    """b - a in degrees, brought into [-180, 180)."""
    return (b - a + 180.0) % 360.0 - 180.0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=600.0)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--warm-up", type=float, default=30.0,
                        help="seconds before memory is expected to stay flat")
    parser.add_argument("--slack", type=float, default=1024.0,
                        help="KiB of resident memory growth still called flat")
    parser.add_argument("--rows", type=int, default=20, help="rows in the table")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    program = os.path.join(build, "orvane")
    swap_probe = os.path.join(build, "tools", "libswap_probe.so")
    frame_probe = os.path.join(build, "tests", "hardening", "libframe_probe.so")
    for path in (program, swap_probe, frame_probe):
        if not os.path.exists(path):
            sys.exit(f"{path} is missing: build first (scripts/build {args.build})")

    folder = tempfile.mkdtemp(prefix="orvane-soak-")
    try:
        for name in ("sunset.bmp", "colormap.bmp"):
            shutil.copyfile(os.path.join(build, name), os.path.join(folder, name))
        swap_log = os.path.join(folder, "swaps.log")
        frame_log = os.path.join(folder, "frames.log")
        with VirtualDisplay() as display:
            env = {"LD_PRELOAD": f"{swap_probe} {frame_probe}", "SWAP_PROBE_LOG": swap_log,
                   "FRAME_PROBE_LOG": frame_log}
            process = display.start([program], cwd=folder, extra_env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                samples, watch = soak(process, args.seconds, LogTail(swap_log),
                                      LogTail(frame_log))
            finally:
                process.kill()
                process.wait()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return report(samples, watch, args)


class Watch:
    """What the frames showed over the whole run."""

    def __init__(self):
        self.text = None
        self.text_changes = []          # times the rate text changed
        self.last_angles = None
        self.bad_steps = 0              # frames that did not turn by 0.5 and 0.2 degrees
        self.steps = 0
        self.own_allocs_after_start = 0
        self.frames = 0

    def swap_line(self, line):
        kind, _, rest = line.partition(" ")
        if kind != "swap":
            return
        stamp, _, text = rest.partition(" ")
        if text != self.text:
            if self.text is not None:
                self.text_changes.append(float(stamp))
            self.text = text

    def frame_line(self, line):
        fields = line.split()
        if not fields or fields[0] != "frame":
            return
        number, own = int(fields[1]), int(fields[3])
        angles = (float(fields[13]), float(fields[14]))
        self.frames += 1
        if number > 0:
            self.own_allocs_after_start += own
        if self.last_angles is not None:
            self.steps += 1
            dx = angle_step(self.last_angles[0], angles[0])
            dy = angle_step(self.last_angles[1], angles[1])
            # The angles grow without bound; GL turns them into a float
            # matrix, so a step is exact only to a few units in the last
            # place of the float angle (about 0.004 degrees after 10 minutes).
            tolerance = 1e-3 + 4.0 * float_ulp(0.5 * number)
            if abs(dx - 0.5) > tolerance or abs(dy - 0.2) > tolerance:
                self.bad_steps += 1
        self.last_angles = angles


def float_ulp(x):
    """The spacing of single-precision floats near x."""
    return 2.0 ** (math.floor(math.log2(max(abs(x), 1.0))) - 23)


def soak(process, seconds, swaps, frames):
    watch = Watch()
    samples = []   # (seconds since start, resident KiB, frames in the last second, text)
    start = time.monotonic()
    next_sample = start + 1.0
    while time.monotonic() - start < seconds:
        time.sleep(max(0.0, next_sample - time.monotonic()))
        next_sample += 1.0
        if process.poll() is not None:
            print(f"The demo stopped with status {process.returncode}", file=sys.stderr)
            break
        before = watch.frames
        for line in swaps.lines():
            watch.swap_line(line)
        for line in frames.lines():
            watch.frame_line(line)
        samples.append((time.monotonic() - start, resident_kib(process.pid),
                        watch.frames - before, watch.text))
    return samples, watch


def report(samples, watch, args):
    if not samples:
        print("No samples: the demo did not run.")
        return 1
    print(f"{'time':>8} {'RSS MiB':>9} {'frames/s':>9}  text")
    step = max(1, len(samples) // args.rows)
    rows = samples[::step]
    if rows[-1] is not samples[-1]:
        rows.append(samples[-1])
    for t, rss, fps, text in rows:
        print(f"{t:8.0f} {rss / 1024:9.2f} {fps:9d}  {text or ''}")

    duration = samples[-1][0]
    settled = [s for s in samples if s[0] >= args.warm_up] or samples[-1:]
    growth = settled[-1][1] - settled[0][1]
    peak = max(s[1] for s in settled) - settled[0][1]
    gaps = [b - a for a, b in zip(watch.text_changes, watch.text_changes[1:])]
    verdicts = [
        ("memory flat", peak <= args.slack,
         f"{settled[0][1] / 1024:.2f} MiB at {settled[0][0]:.0f} s, {settled[-1][1] / 1024:.2f} "
         f"MiB at {settled[-1][0]:.0f} s (growth {growth} KiB, peak {peak} KiB above the "
         f"start, slack {args.slack:.0f} KiB)"),
        ("no allocations", watch.own_allocs_after_start == 0,
         f"{watch.own_allocs_after_start} allocations of the program's own after start-up in "
         f"{watch.frames} frames"),
        ("rate refreshed", len(watch.text_changes) >= 0.9 * (duration - 2) and
         (max(gaps) if gaps else 0) < 2.5,
         f"{len(watch.text_changes)} changes of the rate text in {duration:.0f} s, longest "
         f"gap {max(gaps) if gaps else 0:.2f} s"),
        ("angles growing", watch.steps > 0 and watch.bad_steps == 0,
         f"{watch.steps} frame-to-frame steps, {watch.bad_steps} not of 0.5 and 0.2 degrees; "
         f"last angles {watch.last_angles}"),
    ]
    print()
    for name, ok, detail in verdicts:
        print(f"{'PASS' if ok else 'FAIL'}  {name}: {detail}")
    return 0 if all(ok for _, ok, _ in verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
