"""Window abuse driven from outside, as a person (or a window manager) would:
resizes to zero height and back, to 1x1, far beyond the screen, a hundred
resizes in a burst, minimise, hide and show again. After each, the program
must still be presenting frames, and the frames must carry a viewport and a
perspective projection made for the window's new size.
"""

import math
import os
import random
import unittest

import hardening as h

# gluPerspective(45, aspect, ...) puts 1 / tan(22.5 degrees) in projection[5].
FOCAL = 1.0 / math.tan(math.radians(22.5))


class WindowAbuseTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        h.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_FRAME_PROBE",
                  "ORVANE_SWAP_PROBE", "Xvfb", "xdotool")

    def setUp(self):
        folder = h.scratch_folder(self)
        h.sample_pictures(folder)
        self.display = h.VirtualDisplay().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        # The swap probe logs each call of the program's reshape callback.
        self.reshapes = os.path.join(folder, "reshapes.log")
        self.program = h.Program(self.display, folder, extra_env=h.preload_env(
            h.FRAME_PROBE, os.environ["ORVANE_SWAP_PROBE"],
            extra={"SWAP_PROBE_LOG": self.reshapes}))
        self.addCleanup(self.program.stop)
        self.program.wait_for_frames(3)
        self.window = self.display.find_window("Orvane", timeout=h.START_TIMEOUT)

    def assert_made_for(self, frame, width, height):
        self.assertEqual(frame.viewport, (0, 0, width, height), frame)
        self.assertAlmostEqual(frame.projection[1], FOCAL, places=5)
        self.assertAlmostEqual(frame.aspect(), width / height, delta=1e-6 * width / height)

    def wait_until_drawn_at(self, width, height):
        """The first frame presented in a window of that size with a viewport
        to match, then two more frames to show drawing goes on."""
        def matching():
            for frame in self.program.wait_for_frames(1):
                if frame.window == (width, height) and frame.viewport[2:] == (width, height):
                    return frame
            return None
        frame = h.wait_until(matching, h.START_TIMEOUT, f"a frame drawn at {width}x{height}")
        self.assert_made_for(frame, width, height)
        later = self.program.wait_for_frames(frame.number + 3)[-1]
        self.assert_made_for(later, width, height)
        return later

    def resize(self, width, height):
        self.display.xdotool("windowsize", self.window, width, height)
        return self.wait_until_drawn_at(width, height)

    def test_sizes_a_person_might_drag_to(self):
        self.resize(400, 300)
        self.resize(1, 1)
        self.resize(1, 700)
        self.resize(700, 1)
        # Far beyond the 1024x768 screen.
        self.resize(3000, 2000)
        self.resize(320, 240)
        self.assertTrue(self.program.running())

    def test_zero_height_keeps_the_last_view_and_growing_again_sets_a_new_one(self):
        before = self.resize(400, 300)
        # X never makes a window 0 pixels high (xdotool takes 0 as "leave as
        # it is"); a window manager can still tell the client so.
        h.send_configure_notify(self.display.name, self.window, 400, 0)
        h.wait_until(lambda: (400, 0) in self.reshape_sizes(), h.START_TIMEOUT,
                     "the reshape callback to get height 0")
        frames = self.program.wait_for_frames(before.number + 30)
        for frame in frames[before.number:]:
            self.assert_made_for(frame, 400, 300)
        self.resize(500, 200)

    def test_a_hundred_quick_resizes(self):
        start = self.resize(300, 300)
        rng = random.Random(7)
        sizes = [(rng.randint(1, 1200), rng.randint(1, 900)) for _ in range(100)]
        # One xdotool process for all of them: no waiting between resizes.
        command = []
        for width, height in sizes:
            command += ["windowsize", self.window, width, height]
        self.display.xdotool(*command, timeout=60)
        final = self.resize(640, 480)
        self.assertGreater(final.number, start.number)
        burst = self.program.frames()[start.number:final.number]
        print(f"\n100 resizes: {len(self.reshape_sizes())} reshape calls, {len(burst)} frames "
              f"drawn at {len({f.viewport for f in burst})} different sizes")
        # Whatever the window's size at the moment, every frame's projection
        # was made for the viewport it was drawn with.
        for frame in self.program.frames()[start.number:]:
            width, height = frame.viewport[2:]
            self.assertAlmostEqual(frame.aspect(), width / height, delta=1e-6 * width / height,
                                   msg=frame)
            self.assertTrue(frame.viewport[2:] == (300, 300) or
                            frame.viewport[2:] in set(sizes) | {(640, 480)}, frame)

    def test_minimise_hide_and_show_again(self):
        before = self.resize(360, 280)
        # Without a window manager a minimise request is only a message to the
        # root window; unmapping is what hides the window.
        self.display.xdotool("windowminimize", self.window)
        self.program.wait_for_frames(before.number + 10)
        self.display.xdotool("windowunmap", self.window)
        hidden = self.program.wait_for_more_frames(10)[-1]
        self.assertTrue(self.program.running())
        self.display.xdotool("windowmap", self.window)
        self.program.wait_for_frames(hidden.number + 10)
        self.resize(420, 300)

    def reshape_sizes(self):
        with open(self.reshapes) as f:
            return [tuple(map(int, line.split()[2:4])) for line in f
                    if line.startswith("reshape ") and line.endswith("\n")]

    def tearDown(self):
        # Ends as a person would, through the window's close button: the exit
        # must be clean (in the sanitizer build, leak-checked too).
        if self.program.running():
            self.assertEqual(self.program.close(self.window), 0, self.program.stderr())


if __name__ == "__main__":
    unittest.main()
