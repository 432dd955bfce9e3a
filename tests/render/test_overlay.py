"""The green rate text on screen: none during the first second, then at the
bottom right, as wide and as high as its size and placement say."""

import time
import unittest

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE", "xdotool")


# 152.38 stroke-font units make 24 pixels.
SCALE = 24 / 152.38
# Every character of GLUT's monospaced roman font is this wide.
MONO_WIDTH = 104.76
# Roman capitals and digits stand 100 units above the baseline, which is
# 120 units above the window's bottom edge.
CAP_HEIGHT = 100 * SCALE
BASELINE = 120 * SCALE

SIZE = (400, 250)


def green_pixels(shot):
    """(x, y) of the text's pure green in a window screenshot."""
    width, height = shot.size
    pixels = shot.load()
    return [(x, y) for y in range(height) for x in range(width)
            if pixels[x, y][1] >= 200 and pixels[x, y][0] <= 60 and pixels[x, y][2] <= 60]


def screenshot_with_text(display, run, window, attempts=3):
    """A screenshot and the text of the frames that can be on it, taken when
    that text did not change during the grab."""
    for _ in range(attempts):
        before = time.monotonic()
        shot = display.screenshot(window)
        after = time.monotonic()
        swaps = run.wait_for_swaps(len(run.swaps()) + 1)
        last_before = [s for s in swaps if s.time < before][-1:]
        during = [s for s in swaps if before <= s.time <= after]
        texts = {s.text for s in last_before + during}
        if len(texts) == 1:
            return shot, texts.pop()
    raise AssertionError("the rate text kept changing during the screenshots")


class OverlayTest(unittest.TestCase):

    def test_no_text_in_the_first_second_then_green_text_at_bottom_right(self):
        with orvane.session(self, probe=True) as (display, workdir, start):
            run = start()
            window = run.window()
            run.wait_for_swaps(1)
            early_shot = display.screenshot(window)
            early_taken = time.monotonic()

            display.xdotool("windowmove", window, 16, 16)
            display.xdotool("windowsize", window, *SIZE)
            orvane.wait_until(lambda: any(e.kind == "reshape" and e.size == SIZE
                                          for e in run.probe_events()),
                              orvane.START_TIMEOUT, "the window to grow")
            orvane.wait_until(lambda: any(s.text for s in run.swaps()), orvane.START_TIMEOUT,
                              "the rate text")
            run.wait_for_swaps(len(run.swaps()) + 5)
            shot, text = screenshot_with_text(display, run, window)
            self.assertEqual(0, run.close(window))

        # The first second: a drawn frame, no text. The first frame starts
        # after the first reshape; the text comes a second after that at the
        # earliest.
        events = run.probe_events()
        first_text = next(e for e in events if e.kind == "swap" and e.text)
        before_first = events[events.index(next(e for e in events if e.kind == "swap")) - 1]
        self.assertGreaterEqual(first_text.time - before_first.time, 1.0 - 1e-6,
                                "text before a second had passed")
        self.assertLess(early_taken, first_text.time,
                        "the early screenshot came too late to show the first second")
        early = early_shot.getcolors(early_shot.size[0] * early_shot.size[1])
        self.assertLess(max(early)[0], 0.5 * early_shot.size[0] * early_shot.size[1],
                        "the early screenshot shows no picture")
        self.assertEqual([], green_pixels(early_shot), "text during the first second")

        # Later: the rate text, green, at the bottom right.
        self.assertRegex(text, r"^FPS = \d+\.\d\d$")
        width, height = shot.size
        self.assertEqual(SIZE, (width, height))
        green = green_pixels(shot)
        self.assertTrue(green, f"no green text on screen, although the frame drew {text!r}")
        left = min(x for x, _ in green)
        right = max(x for x, _ in green)
        top = min(y for _, y in green)
        bottom = max(y for _, y in green)

        # Placed by its width in the monospaced font, drawn in the proportional
        # one: it starts where the monospaced text would, plus the first
        # letter's own margin, and ends short of the right edge.
        measured = round(len(text) * MONO_WIDTH) * SCALE
        self.assertGreaterEqual(left, width - measured - 1)
        self.assertLessEqual(left, width - measured + 6)
        self.assertLess(right, width - 0.1 * measured)
        self.assertGreater(right - left, measured / 2)
        # The baseline is 18.9 pixels up, the capitals' tops 15.75 above it
        # (pixel row r, counted from the top, spans height - r - 1 to height - r).
        self.assertAlmostEqual(height - BASELINE, bottom + 0.5, delta=1.5)
        self.assertAlmostEqual(height - BASELINE - CAP_HEIGHT, top + 0.5, delta=1.5)


if __name__ == "__main__":
    unittest.main()
