"""The rate on screen against the frames the program really swapped, counted
from outside by the swap probe."""

import math
import re
import unittest

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE")


REFRESHES = 3
# The shown rate has two decimals; allow for them and for float rounding.
ROUNDING = 0.006


class Frames:
    """When each frame happened, as far as the probe can tell from outside.

    The counter reads its clock once per frame, in its update, somewhere
    between the frame's start (after the previous swap, or after the first
    reshape for the first frame) and the frame's own swap.
    """

    def __init__(self, events):
        self.begin, self.end, self.text = [], [], []
        last = None
        for event in events:
            if event.kind == "swap":
                self.begin.append(last)
                self.end.append(event.time)
                self.text.append(event.text)
            last = event.time

    def __len__(self):
        return len(self.end)

    def elapsed(self, p, k):
        """(shortest, longest) time the counter can have seen from frame p's update to frame k's."""
        return self.begin[k] - self.end[p], self.end[k] - self.begin[p]

    def interval_problems(self, p, k, shown):
        """What is wrong with the counter starting at frame p and showing
        `shown` frames per second at frame k; empty when nothing."""
        problems = []
        shortest, longest = self.elapsed(p, k)
        if longest < 1.0 - 1e-6:
            problems.append(f"a new rate after {longest:.3f} s at most")
        if self.elapsed(p, k - 1)[0] >= 1.0 + 1e-6:
            problems.append("a second had passed a frame earlier")
        frames = k - p
        low = frames / longest
        high = frames / shortest if shortest > 0 else math.inf
        if not low * (1 - 1e-3) - ROUNDING <= shown <= high * (1 + 1e-3) + ROUNDING:
            problems.append(f"shows {shown}, but {frames} frames were swapped in "
                            f"{shortest:.4f} to {longest:.4f} s: {low:.2f} to {high:.2f} a second")
        return problems


def rate(text):
    shown = re.fullmatch(r"FPS = (\d+\.\d\d)", text)
    if not shown:
        raise AssertionError(f"{text!r} is not the rate format")
    return float(shown.group(1))


class FrameRateTest(unittest.TestCase):

    def test_rate_shown_matches_frames_swapped(self):
        with orvane.session(self, probe=True) as (display, workdir, start):
            run = start()
            window = run.window()

            def refreshes():
                texts = [s.text for s in run.swaps()]
                return sum(1 for a, b in zip(texts, texts[1:]) if a != b)
            orvane.wait_until(lambda: refreshes() >= REFRESHES, orvane.START_TIMEOUT + REFRESHES,
                              f"{REFRESHES} rates")
            self.assertEqual(0, run.close(window))

        frames = Frames(run.probe_events())
        self.assertEqual("", frames.text[0], "text in the first frame")
        changes = [k for k in range(1, len(frames)) if frames.text[k] != frames.text[k - 1]]
        self.assertGreaterEqual(len(changes), REFRESHES)

        # The first frame starts the measurement; each new rate shows in the
        # first frame whose update finds a second gone since the previous
        # one, and counts the frames after it.
        start = 0
        for k in changes:
            with self.subTest(frame=k, text=frames.text[k]):
                problems = frames.interval_problems(start, k, rate(frames.text[k]))
                if problems and start > 0:
                    # Two rates in a row may print alike: look for a refresh
                    # the text did not show.
                    hidden = [j for j in range(start + 1, k)
                              if not frames.interval_problems(start, j, rate(frames.text[start]))
                              and not frames.interval_problems(j, k, rate(frames.text[k]))]
                    problems = [] if hidden else problems
                self.assertEqual([], problems)
            start = k


if __name__ == "__main__":
    unittest.main()
