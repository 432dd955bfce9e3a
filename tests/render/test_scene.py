"""What the window shows: the sunset stretched over the whole window, the ring
over it in the middle."""

import math
import unittest

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE", "xdotool")


class SceneTest(unittest.TestCase):

    def test_background_fills_window_and_ring_sits_in_the_middle(self):
        with orvane.session(self, probe=True) as (display, workdir, start):
            run = start()
            window = run.window()
            # GLUT leaves the window at -1, -1; bring all of it on screen.
            display.xdotool("windowmove", window, 16, 16)
            orvane.wait_until(lambda: display.window_geometry(window)[:2] == (16, 16), 10,
                              "the window to move")
            # Frames drawn after the move, so the screen holds a whole one.
            run.wait_for_swaps(len(run.swaps()) + 5)
            shot = display.screenshot(window)
            self.assertTrue(run.running())
            self.assertEqual(0, run.close(window))

        # Corners: the picture's own corners, the right way up.
        for corner, worst in orvane.corner_differences(shot, workdir.file("sunset.bmp")).items():
            self.assertLessEqual(worst, orvane.PICTURE_TOLERANCE,
                                 f"{corner} corner differs from the picture")

        # The ring stays inside a disc around the middle (its outer radius, 2.5
        # at a distance of 8, covers at most 80 % of half the window); the
        # rate text sits at the bottom right.
        width, height = shot.size
        pixels = shot.load()
        background = orvane.StretchedPicture(workdir.file("sunset.bmp"), width, height)
        cx, cy = width / 2, height / 2
        radius = 0.82 * min(width, height) / 2

        def in_text_area(x, y):
            return y >= height - 48 and x >= width // 4

        covered = stray = outside = 0
        for y in range(height):
            for x in range(width):
                off = orvane.difference(pixels[x, y], background.expected(x, y)) \
                    > orvane.PICTURE_TOLERANCE
                if math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= radius:
                    covered += off
                elif not in_text_area(x, y):
                    outside += 1
                    stray += off
        self.assertLessEqual(stray, outside * 0.002,
                             "the background differs from the picture outside the ring's area")
        # Seen face-on the ring covers a quarter of the window, edge-on a tenth.
        self.assertGreater(covered, 0.05 * width * height, "no ring over the background")


if __name__ == "__main__":
    unittest.main()
