#!/usr/bin/python3
"""Times our picture loader against Pillow on the same files, side by side.

    /usr/bin/python3 bench/loader_vs_pillow.py BUILD/bench/loader_bench [--rounds 7] [--reps 11]

loader_bench writes the pictures into a temporary folder. Each round decodes
every picture REPS times with our loader (loader_bench --decode, which prints
its median) and REPS times with Pillow (Image.open(f).convert("RGB"), which
forces the load), taking turns on who goes first, so that a slow patch of a
shared machine hits both. The table shows the median of the round medians,
the range of the round medians, and how many times faster ours is.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

PICTURES = ["noise-4096.bmp", "sunset-512.bmp", "colormap-256.bmp"]


def ours(bench, path, reps):
    out = subprocess.run([bench, "--decode", path, str(reps)], check=True,
                         capture_output=True, text=True).stdout
    return float(out.split()[0]) / 1e6  # median, ms


def pillow(path, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        with Image.open(path) as image:
            image.convert("RGB")
        times.append((time.perf_counter() - start) * 1e3)
    return statistics.median(times)


def measure(bench, rounds, reps, progress=True):
    """Round medians in ms: {picture: {"ours": [...], "pillow": [...]}}."""
    folder = tempfile.mkdtemp(prefix="loader-vs-pillow-")
    try:
        subprocess.run([bench, "--write-pictures", folder], check=True)
        paths = {name: os.path.join(folder, name) for name in PICTURES}
        # Both must give the same pixels, or the race means nothing. This also
        # gives both the same start: file cached, code warm.
        for path in paths.values():
            rgb = path + ".rgb"
            subprocess.run([bench, "--decode", path, "1", rgb], check=True,
                           capture_output=True)
            with Image.open(path) as image:
                theirs = image.convert("RGB").transpose(Image.Transpose.FLIP_TOP_BOTTOM)
            with open(rgb, "rb") as f:
                if f.read() != theirs.tobytes():
                    sys.exit(f"our loader and Pillow decode {path} differently")
            os.remove(rgb)

        results = {name: {"ours": [], "pillow": []} for name in PICTURES}
        for round_ in range(rounds):
            for name, path in paths.items():
                sides = [("ours", lambda: ours(bench, path, reps)),
                         ("pillow", lambda: pillow(path, reps))]
                if round_ % 2:
                    sides.reverse()
                for side, run in sides:
                    results[name][side].append(run())
            if progress:
                print(f"round {round_ + 1}/{rounds} done", file=sys.stderr)
    finally:
        shutil.rmtree(folder)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench", help="path of the loader_bench executable")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--reps", type=int, default=11, help="decodes per round and side")
    args = parser.parse_args()

    results = measure(args.bench, args.rounds, args.reps)

    def cell(times):
        return f"{statistics.median(times):8.3f} ({min(times):.3f}-{max(times):.3f})"

    print(f"{args.rounds} rounds x {args.reps} decodes per side; "
          "median of round medians in ms (range of round medians)")
    print(f"{'picture':<18} {'ours':>26} {'Pillow':>26} {'Pillow/ours':>12}")
    for name in PICTURES:
        ours_ms, pillow_ms = results[name]["ours"], results[name]["pillow"]
        ratio = statistics.median(pillow_ms) / statistics.median(ours_ms)
        print(f"{name:<18} {cell(ours_ms):>26} {cell(pillow_ms):>26} {ratio:>11.2f}x")


if __name__ == "__main__":
    main()
