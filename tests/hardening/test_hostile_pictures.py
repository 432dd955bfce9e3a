"""Hostile pictures through the real program: every refusal case of the
loader, random bytes behind "BM", files cut at every header boundary, absurd
sizes, indices beyond the palette, each used as "sunset.bmp" and then as
"colormap.bmp" beside a sound sample picture.

Every run must either present frames (then close normally, exit status 0) or
show the "Error!" box, wait for it, and exit with status 1 once Return
dismisses it. A crash, a hang or (in the sanitizer build) any sanitizer
report fails the run.
"""

import concurrent.futures
import os
import random
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import hardening as h

ACCEPTED, REFUSED, EITHER = "accepted", "refused", "either"
WORKERS = 2  # one Xvfb each; the machines that run this have two cores


def poke32(data, at, value):
    data = bytearray(data)
    data[at:at + 4] = struct.pack("<I", value & 0xFFFFFFFF)
    return bytes(data)


def hostile_cases(corpus):
    """(name, bytes or None for a folder, expected outcome)."""
    def read(name):
        with open(os.path.join(corpus, name), "rb") as f:
            return f.read()

    cases = []
    # The writer's named corpus: every refusal case of the loader and the
    # sound oddities (top-down, header sizes, short palettes, zero width).
    with open(os.path.join(corpus, "corpus.tsv")) as f:
        for line in f:
            name, outcome, _ = line.rstrip("\n").split("\t", 2)
            cases.append((name, read(name), outcome))

    basic = read("valid_basic.bmp")          # 40-byte header, 16 colours, 16x8
    full = read("valid_full_palette.bmp")    # 256 colours, pixels at 1078
    v5 = read("valid_header_124.bmp")        # 124-byte header

    # Cut at every field boundary of the headers, inside and at the end of
    # the palette, and inside the pixel rows. Until the information header is
    # whole the file is refused; after that what is missing is black.
    for cut in (1, 2, 6, 8, 10, 13, 14, 15, 18, 22, 26, 28, 30, 34, 38, 42, 46, 50, 53):
        cases.append((f"cut_basic_{cut}.bmp", basic[:cut], REFUSED))
    for cut in (54, 55, 58, 70, 117, 118, 119, 134, len(basic) - 1):
        cases.append((f"cut_basic_{cut}.bmp", basic[:cut], ACCEPTED))
    for cut in (54, 137):
        cases.append((f"cut_v5_{cut}.bmp", v5[:cut], REFUSED))
    for cut in (138, 139, 200):
        cases.append((f"cut_v5_{cut}.bmp", v5[:cut], ACCEPTED))
    for cut in (1077, 1078, 1079):
        cases.append((f"cut_full_{cut}.bmp", full[:cut], ACCEPTED))

    # Random bytes behind "BM", short and long (fixed seed: the same files
    # every run).
    rng = random.Random(4)
    for length in (4, 12, 40, 52, 60, 200, 1100, 5000, 70000):
        cases.append((f"random_{length}.bmp", b"BM" + rng.randbytes(length), EITHER))
    # Random bytes behind a sound header: palette and pixels are noise.
    for k in range(3):
        noise = basic[:54] + rng.randbytes(len(basic) - 54 + 100 * k)
        cases.append((f"random_body_{k}.bmp", noise, ACCEPTED))

    # Sizes: the largest accepted side, one above, the extremes of 32 bits.
    def sized(width, height):
        return poke32(poke32(basic, 18, width), 22, height)
    cases += [
        ("size_16384x1.bmp", sized(16384, 1), ACCEPTED),
        ("size_1x16384.bmp", sized(1, 16384), ACCEPTED),
        # The largest picture accepted (top-down, so the row order is turned
        # too): 805 MB of pixels from a file of 246 bytes.
        ("size_16384x-16384.bmp", sized(16384, -16384), ACCEPTED),
        ("size_16385x16385.bmp", sized(16385, 16385), REFUSED),
        ("size_1x16385.bmp", sized(1, 16385), REFUSED),
        ("size_1x-16385.bmp", sized(1, -16385), REFUSED),
        ("size_max_width.bmp", sized(0x7FFFFFFF, 1), REFUSED),
        ("size_max_height.bmp", sized(1, 0x7FFFFFFF), REFUSED),
        ("size_min_width.bmp", sized(-0x80000000, 1), REFUSED),
        ("size_0x0.bmp", sized(0, 0), ACCEPTED),
        ("size_16x0.bmp", sized(16, 0), ACCEPTED),
        ("size_16x-1.bmp", sized(16, -1), ACCEPTED),
    ]

    # Palettes and indices: one stored colour with every index in use; the
    # colours-used count at its extremes.
    one = bytearray(poke32(basic, 10, 58))
    one[58:] = bytes(range(256))[: len(one) - 58]
    cases.append(("palette_one_entry.bmp", bytes(one), ACCEPTED))
    cases.append(("colours_used_max.bmp", poke32(basic, 46, 0xFFFFFFFF), ACCEPTED))
    cases.append(("colours_used_1.bmp", poke32(basic, 46, 1), ACCEPTED))
    cases.append(("full_colours_used_2.bmp", poke32(full, 46, 2), ACCEPTED))

    # Pixel data offsets: just inside the headers, at the end of the file,
    # as far as 32 bits go.
    cases += [
        ("offset_53.bmp", poke32(basic, 10, 53), REFUSED),
        ("offset_0.bmp", poke32(basic, 10, 0), REFUSED),
        ("offset_54.bmp", poke32(basic, 10, 54), ACCEPTED),
        ("offset_end.bmp", poke32(basic, 10, len(basic)), ACCEPTED),
        ("offset_max.bmp", poke32(basic, 10, 0xFFFFFFFF), ACCEPTED),
        ("offset_2g.bmp", poke32(basic, 10, 0x80000000), ACCEPTED),
    ]

    # Header fields the loader must refuse.
    cases += [
        ("header_size_0.bmp", poke32(basic, 14, 0), REFUSED),
        ("header_size_max.bmp", poke32(basic, 14, 0xFFFFFFFF), REFUSED),
        ("header_size_41.bmp", poke32(basic, 14, 41), REFUSED),
        ("header_size_64.bmp", poke32(basic, 14, 64), REFUSED),
        ("bits_0.bmp", basic[:28] + b"\x00\x00" + basic[30:], REFUSED),
        ("bits_max.bmp", basic[:28] + b"\xff\xff" + basic[30:], REFUSED),
        ("compression_max.bmp", poke32(basic, 30, 0xFFFFFFFF), REFUSED),
        ("compression_bitfields.bmp", poke32(basic, 30, 3), REFUSED),
        ("just_bm.bmp", b"BM", REFUSED),
    ]
    # Not a file at all.
    cases.append(("a_folder.bmp", None, REFUSED))
    return cases


class Outcome:
    def __init__(self, case, role, result, detail="", seconds=0.0):
        self.case, self.role, self.result, self.detail = case, role, result, detail
        self.seconds = seconds


def run_one(display, samples, case, role):
    """Runs the program with `case` as `role`; returns its Outcome."""
    name, data, expected = case
    folder = tempfile.mkdtemp(prefix="orvane-hostile-")
    try:
        for picture in ("sunset.bmp", "colormap.bmp"):
            shutil.copyfile(os.path.join(samples, picture), os.path.join(folder, picture))
        target = os.path.join(folder, role)
        os.remove(target)
        if data is None:
            os.mkdir(target)
        else:
            with open(target, "wb") as f:
                f.write(data)
        started = time.monotonic()
        result, detail = drive(display, folder, expected)
        return Outcome(case, role, result, detail, time.monotonic() - started)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def drive(display, folder, expected):
    """('drew', detail) or ('refused', detail); anything else is a failure
    described by its first element."""
    with h.Program(display, folder) as program:
        def settled():
            if not program.running():
                return "stopped"
            if program.frames():
                return "drew"
            if window_named(display, "Error!"):
                return "box"
            return None
        try:
            state = h.wait_until(settled, h.START_TIMEOUT, "frames or the warning box", 0.05)
        except TimeoutError:
            return "hung", "neither frames nor the warning box"

        if state == "stopped":
            return "crashed", f"status {program.process.poll()}: {program.stderr()[-2000:]}"
        if state == "box":
            if not program.running():
                return "crashed", "the box did not wait"
            display.xdotool("key", "Return")
            try:
                status = program.process.wait(timeout=h.EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                return "hung", "still running after the box was dismissed"
            if status != 1:
                return "crashed", f"status {status} after the box: {program.stderr()[-2000:]}"
            if "Error! Initialization failed" not in program.stderr():
                return "crashed", "no message on standard error"
            return "refused", ""

        try:
            program.wait_for_more_frames(2)
            window = display.find_window("Orvane", timeout=h.START_TIMEOUT)
            status = program.close(window)
        except (AssertionError, TimeoutError, subprocess.TimeoutExpired) as error:
            return "crashed" if not program.running() else "hung", str(error)[-2000:]
        if status != 0:
            return "crashed", f"status {status} after closing: {program.stderr()[-2000:]}"
        return "drew", f"{len(program.frames())} frames"


def window_named(display, name):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{name}$"],
                           env=display.env(), capture_output=True, text=True).stdout.split()
    return found[0] if found else None


class HostilePicturesTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        h.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_CORPUS_TOOL",
                  "ORVANE_FRAME_PROBE", "Xvfb", "xdotool")

    def test_every_hostile_picture_draws_or_is_refused(self):
        root = h.scratch_folder(self)
        samples, corpus = os.path.join(root, "samples"), os.path.join(root, "corpus")
        os.mkdir(samples)
        os.mkdir(corpus)
        h.sample_pictures(samples)
        subprocess.run([h.CORPUS_TOOL, corpus], check=True)
        cases = hostile_cases(corpus)
        jobs = [(case, role) for case in cases for role in ("sunset.bmp", "colormap.bmp")]

        def worker(share):
            with h.VirtualDisplay() as display:
                return [run_one(display, samples, case, role) for case, role in share]

        with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
            shares = [jobs[k::WORKERS] for k in range(WORKERS)]
            outcomes = [o for result in pool.map(worker, shares) for o in result]

        drew = sum(o.result == "drew" for o in outcomes)
        refused = sum(o.result == "refused" for o in outcomes)
        print(f"\n{len(cases)} pictures, {len(outcomes)} runs: {drew} drew frames, "
              f"{refused} showed the box and exited 1")
        slowest = sorted(outcomes, key=lambda o: -o.seconds)[:3]
        print("slowest: " + ", ".join(f"{o.case[0]} as {o.role} {o.seconds:.1f} s"
                                      for o in slowest))
        problems = []
        for o in outcomes:
            name, _, expected = o.case
            wanted = {ACCEPTED: ("drew",), REFUSED: ("refused",),
                      EITHER: ("drew", "refused")}[expected]
            if o.result not in wanted:
                problems.append(f"{name} as {o.role}: {o.result} (expected {expected}) {o.detail}")
        self.assertFalse(problems, "\n" + "\n".join(problems))


if __name__ == "__main__":
    unittest.main()
