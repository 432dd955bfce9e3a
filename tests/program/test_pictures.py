"""Pictures the program cannot use: the "Error!" box waits for the user,
standard error says why, nothing is drawn, and the exit status is 1; when
the sunset fails, the colour map is never opened. Then every picture of the
fixture table as the sunset or the colour map in turn: frames and a normal
close, or the box and status 1; never a crash, a hang or (in the sanitizer
build) a report."""

import os
import shutil
import time
import unittest

import orvane_harness as h

LINE = "Error! Initialization failed"
OK_BUTTON, ON_THE_TEXT = (264, 93), (150, 42)  # in the 320 x 120 box


def press(key):
    def dismiss(display, box):
        display.xdotool("windowfocus", "--sync", box, "key", key)
    return dismiss


DISMISSALS = {
    "clicking OK": lambda d, box: d.xdotool("mousemove", "--window", box, *OK_BUTTON, "click", "1"),
    "Return": press("Return"),
    "Escape": press("Escape"),
    "Space": press("space"),
    "the close button": lambda d, box: d.close_request(box),
    "destroying the box": lambda d, box: d.xdotool("windowclose", box),
}

# The picture that fails, the fixture put in its place (None: missing), how
# the box is dismissed, and the reason given on standard error.
CASES = [
    ("sunset.bmp", None, "clicking OK", "cannot open: No such file or directory"),
    ("colormap.bmp", None, "Return", "cannot open: No such file or directory"),
    ("sunset.bmp", "bits_24.bmp", "Escape", "24 bits per pixel; only 8-bit paletted pictures are read"),
    ("colormap.bmp", "compression_1.bmp", "the close button",
     "run-length compressed; only uncompressed pictures are read"),
    ("sunset.bmp", "cut_in_headers_30.bmp", "Space", "ends after 30 bytes, inside its headers"),
    ("colormap.bmp", "million_squared.bmp", "destroying the box",
     "1000000 x 1000000 pixels; each side may be at most 16384"),
]
POINTER = ' (see "Your own pictures" in the README)'


class PicturesTest(unittest.TestCase):

    def setUp(self):
        self.folder = h.scratch_folder(self, corpus=True)
        self.sound = {name: open(os.path.join(self.folder, name), "rb").read()
                      for name in ("sunset.bmp", "colormap.bmp")}

    def use(self, picture, fixture):
        """The sound pictures, but `fixture` (None: nothing) as `picture`."""
        for name, data in self.sound.items():
            open(os.path.join(self.folder, name), "wb").write(data)
        os.remove(os.path.join(self.folder, picture))
        if fixture:
            shutil.copy(os.path.join(self.folder, "corpus", fixture),
                        os.path.join(self.folder, picture))

    def test_warning_box_waits_then_status_1(self):
        for picture, fixture, how, reason in CASES:
            with self.subTest(picture=picture, fixture=fixture, dismissed_by=how):
                self.use(picture, fixture)
                self.check_box(picture, DISMISSALS[how], f"{picture}: {reason}{POINTER}")

    def check_box(self, picture, dismiss, reason):
        with h.Display() as display, h.Program(display, self.folder, strace=True) as program:
            box = program.window("Error!")
            self.assertEqual((320, 120), display.geometry(box)[2:])
            yellow = lambda: sum(1 for r, g, b in display.screenshot(box).getdata()
                                 if r > 200 and 150 < g < 230 and b < 60) > 500
            h.wait_until(yellow, "the warning sign")
            h.wait_until(lambda: LINE in program.stderr(), "the line on standard error")
            # It waits for the user: a click beside the button does nothing.
            display.xdotool("mousemove", "--window", box, *ON_THE_TEXT, "click", "1")
            time.sleep(0.5)
            self.assertTrue(program.running(), "the program did not wait")
            dismiss(display, box)
            self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))
        # Which picture and why, then the line of the box.
        self.assertEqual([reason, LINE], program.stderr().splitlines()[-2:])
        opened = program.opened_files()
        self.assertIn("sunset.bmp", opened)
        self.assertEqual(picture == "colormap.bmp", "colormap.bmp" in opened)
        drawn = [kind for kind in program.log().kinds if kind in ("frame", "reshape")]
        self.assertEqual([], drawn, "drawn or reshaped before the box")


    def test_every_fixture_draws_or_is_refused(self):
        with open(os.path.join(self.folder, "corpus", "corpus.tsv")) as table:
            fixtures = [line.split() for line in table]
        with h.Display() as display:
            for number, (name, outcome) in enumerate(fixtures):
                role = ("sunset.bmp", "colormap.bmp")[number % 2]
                self.use(role, name)
                with self.subTest(name, role=role), h.Program(display, self.folder) as program:
                    window = program.window("Orvane" if outcome == "accepted" else "Error!")
                    if outcome == "accepted":
                        program.wait_frames(3)
                        self.assertEqual(0, program.close(window), program.stderr())
                    else:
                        display.xdotool("windowfocus", "--sync", window, "key", "Return")
                        self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))


if __name__ == "__main__":
    unittest.main()
