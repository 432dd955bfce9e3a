"""One run of the program, dragged about, with every GL call recorded by
apitrace: the calls of set-up, of each reshape and of each frame against
call_order.golden, with the ring's angles and the rate text's place; the rate
against the frames counted from outside, none in the first second; no
allocation of its own per frame; a zero-height reshape that makes no call,
and a projection for every other size, down to 1x1 and far beyond the
screen."""

import math
import os
import random
import re
import shutil
import time
import unittest

from PIL import Image

import orvane_harness as h

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "call_order.golden")
NAMES = ("SUNSET", "COLORMAP", "RING")  # bound once for the whole run
STROKE = re.compile(r"glBegin\(mode = GL_LINE_STRIP\)|glVertex2f\(.*\)|glEnd\(\)"
                    r"|glTranslatef\(x = (.*), y = 0, z = 0\)")
rng = random.Random(7)
SIZES = [(1, 1), (3000, 2000), (1, 700), (700, 1)] + [
    (rng.randint(1, 1200), rng.randint(1, 900)) for _ in range(100)] + [(640, 480)]
ROUNDING = 0.006  # the rate is shown with two decimals


def read_golden():
    blocks, name = {}, None
    for line in open(GOLDEN):
        line = line.rstrip("\n")
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            blocks[name] = []
        elif name and line and not line.startswith("#"):
            repeat = re.fullmatch(r"(.*) x(\d+)", line)
            group = repeat.group(1).split("; ") if repeat else [line]
            blocks[name] += group * (int(repeat.group(2)) if repeat else 1)
    return blocks


def match(pattern, call, bound):
    """Whether `call` fits `pattern`; binds the $NAMEs it meets first."""
    regex, seen = "", set()
    for part in re.split(r"(\*|\$[A-Z_]+)", pattern):
        name = part[1:]
        if part == "*":
            regex += ".*?"
        elif not part.startswith("$"):
            regex += re.escape(part)
        elif name in bound:
            regex += re.escape(bound[name])
        else:
            regex += f"(?P={name})" if name in seen else f"(?P<{name}>.*?)"
            seen.add(name)
    m = re.fullmatch(regex, call)
    if m:
        bound.update(m.groupdict())
    return m is not None


def match_block(test, block, calls, at, bound, what):
    """Matches calls[at:] to a golden block; (next index, advances of the text)."""
    advances = []
    for pattern in block:
        if pattern == "<text>":
            while at < len(calls) and (m := STROKE.fullmatch(calls[at])):
                advances += [float(m.group(1))] if m.group(1) else []
                at += 1
            continue
        test.assertTrue(at < len(calls) and match(pattern, calls[at], bound),
                        f"{what}: expected\n  {pattern}\ngot\n  "
                        + "\n  ".join(calls[max(0, at - 2):at + 3]))
        at += 1
    return at, advances


def close(a, b, relative=1e-12):
    return abs(float(a) - b) <= relative * max(1.0, abs(b))


def perspective(aspect, fovy=45.0, near=1.0, far=20.0):
    f = 1 / math.tan(math.radians(fovy) / 2)
    return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) / (near - far), -1,
            0, 0, 2 * far * near / (near - far), 0]


def drawn_at(program, size):
    return h.wait_until(lambda: [f for f in program.frames() if f.viewport == size],
                        f"a frame at {size}")


class WindowTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.folder = h.scratch_folder()
        with h.Display() as display, h.Program(display, cls.folder, trace=True) as program:
            window = program.window()
            # X never makes a window 0 high, but a window manager may say so.
            display.configure_notify(window, 300, 0)
            h.wait_until(lambda: (300, 0) in [s for _, s in program.log().reshapes], "reshape")
            # The first four one by one, the rest in a burst.
            for size in SIZES[:4]:
                display.xdotool("windowsize", window, *size)
                drawn_at(program, size)
            display.xdotool(*[a for size in SIZES[4:] for a in ("windowsize", window, *size)])
            drawn_at(program, SIZES[-1])
            display.xdotool("windowunmap", window)
            program.wait_frames(10)
            display.xdotool("windowmap", window)
            h.wait_until(lambda: time.monotonic() - program.started > 4.5, "4.5 s of frames")
            cls.status = program.close(window)
        cls.log = program.log()
        cls.calls = program.gl_calls()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, True)

    def test_set_up_reshapes_and_frames_follow_the_golden_calls(self):
        self.assertEqual(0, self.status)
        golden, calls, bound = read_golden(), self.calls, {}
        at, _ = match_block(self, golden["set-up"], calls, 0, bound, "set-up")
        for name, picture in (("S", "sunset.bmp"), ("C", "colormap.bmp")):
            size = Image.open(os.path.join(self.folder, picture)).size
            self.assertEqual([str(v) for v in size], [bound[name + "W"], bound[name + "H"]])

        # Between frames only reshapes, each to a size the window got, the
        # zero-height one left out.
        sizes = [size for _, size in self.log.reshapes if size[1] > 0]
        frames, reshaped = [], []
        while at < len(calls):
            while calls[at].startswith("glViewport"):
                values = {k: bound[k] for k in NAMES}
                at, _ = match_block(self, golden["reshape"], calls, at, values, "reshape")
                w, h_ = int(values["W"]), int(values["H"])
                reshaped.append((w, h_))
                matrix = values["PERSPECTIVE"].strip("{}").split(", ")
                self.assertTrue(all(map(close, matrix, perspective(w / h_))), matrix)
            values = {k: bound[k] for k in NAMES}
            at, advances = match_block(self, golden["frame"], calls, at, values,
                                       f"frame {len(frames)}")
            frames.append((values, advances))
        self.assertEqual(sizes, reshaped)
        self.assertGreater(len(frames), 40)
        self.check_frames(frames)

    def check_frames(self, frames):
        angle_x = angle_y = 0.0
        steps = 0
        for number, (v, advances) in enumerate(frames):
            # Each idle call turns the ring by exactly 0.5 and 0.2 degrees; a
            # redraw the window system asks for repeats the angles.
            if not (close(v["ANGLE_X"], angle_x) and close(v["ANGLE_Y"], angle_y)):
                angle_x, angle_y, steps = angle_x + 0.5, angle_y + 0.2, steps + 1
            self.assertTrue(close(v["ANGLE_X"], angle_x) and close(v["ANGLE_Y"], angle_y),
                            f"frame {number}: {v['ANGLE_X']}, {v['ANGLE_Y']}")
            # Measured in the monospaced font, ending at the right edge; drawn
            # in the proportional one, which is narrower.
            length = round(len(advances) * h.MONO_WIDTH)
            self.assertTrue(close(v["TEXT_X"], int(v["W"]) - length * h.SCALE), v["TEXT_X"])
            self.assertTrue(close(v["TEXT_Y"], h.BASELINE), v["TEXT_Y"])
            self.assertAlmostEqual(float(v["SCALE"]), h.SCALE, places=6)
            if advances:
                self.assertLess(sum(advances), length - 1)
        self.assertEqual([], frames[0][1], "text in the first frame")
        self.assertGreater(steps, len(frames) / 2, "most frames come from idle calls")

    def test_rate_shown_matches_the_frames_swapped(self):
        # Frame k's update reads the clock between the previous swap (or the
        # first reshape) and its own swap; a new rate shows in the first frame
        # that finds a second gone, and counts the frames since the last one.
        frames = self.log.frames
        ends = [f.time for f in frames]
        begins = [self.log.reshapes[0][0]] + ends[:-1]
        texts = [f.text for f in frames]
        self.assertEqual("", texts[0])
        first = next(f for f in frames if f.text)
        self.assertGreaterEqual(first.time - self.log.reshapes[0][0], 1.0 - 1e-6, "text in the first second")
        changes = [k for k in range(1, len(frames)) if texts[k] != texts[k - 1]]
        self.assertGreaterEqual(len(changes), 3)
        for p, k in zip([0] + changes, changes):
            shortest, longest = begins[k] - ends[p], ends[k] - begins[p]
            if longest > 2.0:
                continue  # two rates in a row that print alike
            shown = float(re.fullmatch(r"FPS = (\d+\.\d\d)", texts[k]).group(1))
            self.assertGreaterEqual(longest, 1.0 - 1e-6, f"frame {k}: too early")
            self.assertLess(begins[k - 1] - ends[p], 1.0 + 1e-6, f"frame {k}: too late")
            self.assertTrue((k - p) / longest * (1 - 1e-3) - ROUNDING <= shown
                            <= (k - p) / shortest * (1 + 1e-3) + ROUNDING,
                            f"frame {k} shows {shown}: {k - p} frames in {shortest:.4f}-{longest:.4f} s")

    def test_no_allocation_of_its_own_after_start_up(self):
        if h.SANITIZED:
            self.skipTest("sanitizer builds bring their own allocator")
        self.assertGreater(self.log.frames[0].own_allocs, 0, "the probe counted nothing")
        self.assertEqual(0, sum(f.own_allocs for f in self.log.frames[50:]))



if __name__ == "__main__":
    unittest.main()
