"""A picture missing or unreadable: the "Error!" box appears, waits for the
user, and the program ends with status 1 without drawing a frame."""

import time
import unittest

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_CORPUS_TOOL",
                   "ORVANE_SWAP_PROBE", "xdotool", "strace")


# The box is 320 x 120 with its OK button at the bottom right.
BOX_SIZE = (320, 120)
OK_BUTTON = (264, 93)
ON_THE_TEXT = (150, 42)

LINE = "Error! Initialization failed"


def warning_sign_shown(shot):
    """Whether the box shows its yellow warning triangle (about 1000 pixels)."""
    yellow = sum(1 for r, g, b in shot.getdata() if r > 200 and 150 < g < 230 and b < 60)
    return yellow > 500


def click_ok(display, box):
    display.xdotool("mousemove", "--window", box, *OK_BUTTON, "click", "1")


def press(key):
    def dismiss(display, box):
        # Typed like a person: the key goes to the focused window.
        display.xdotool("windowfocus", "--sync", box)
        display.xdotool("key", key)
    return dismiss


def close_button(display, box):
    orvane.send_close_request(display.name, box)


def destroy(display, box):
    display.xdotool("windowclose", box)


DISMISSALS = {
    "clicking OK": click_ok,
    "Return": press("Return"),
    "Escape": press("Escape"),
    "Space": press("space"),
    "the close button": close_button,
    "destroying the window": destroy,
}

# What is wrong, how the working directory gets that way, whether the
# program gets as far as opening colormap.bmp, and how the box is dismissed.
CASES = [
    ("no sunset.bmp", lambda w: w.remove("sunset.bmp"), False, "clicking OK"),
    ("no colormap.bmp", lambda w: w.remove("colormap.bmp"), True, "Return"),
    ("24-bit sunset.bmp", lambda w: w.put_fixture("bad_24bit.bmp", "sunset.bmp"), False,
     "Escape"),
    ("compressed colormap.bmp", lambda w: w.put_fixture("bad_rle8.bmp", "colormap.bmp"), True,
     "the close button"),
    ("sunset.bmp cut short in its header",
     lambda w: w.put_fixture("bad_truncated_info_header.bmp", "sunset.bmp"), False, "Space"),
    ("colormap.bmp claiming 10^6 x 10^6 pixels",
     lambda w: w.put_fixture("bad_absurd_size.bmp", "colormap.bmp"), True,
     "destroying the window"),
]


class FailurePathTest(unittest.TestCase):

    def test_warning_box_then_status_1(self):
        for what, prepare, reaches_colormap, how in CASES:
            with self.subTest(what, dismissed_by=how):
                self.check_case(prepare, reaches_colormap, DISMISSALS[how])

    def check_case(self, prepare, reaches_colormap, dismiss):
        with orvane.session(self, probe=True, strace=True) as (display, workdir, start):
            prepare(workdir)
            run = start()
            box = run.window("Error!")
            self.assertEqual(BOX_SIZE, display.window_geometry(box)[2:])
            orvane.wait_until(lambda: warning_sign_shown(display.screenshot(box)), 10,
                              "the warning sign in the box")
            # Someone who started it from a terminal sees why, while the box waits.
            orvane.wait_until(lambda: LINE in run.stderr(), 10, "the message on stderr")

            # It waits for the user: a click beside the button changes nothing.
            display.xdotool("mousemove", "--window", box, *ON_THE_TEXT, "click", "1")
            time.sleep(1.0)
            self.assertTrue(run.running(), "the program did not wait for the user")

            dismiss(display, box)
            self.assertEqual(1, run.wait())

        self.assertEqual([LINE], [l for l in run.stderr().splitlines() if "Error!" in l])
        attempted = run.attempted_files()
        self.assertIn("sunset.bmp", attempted)
        if reaches_colormap:
            self.assertIn("colormap.bmp", attempted)
        else:
            self.assertNotIn("colormap.bmp", attempted,
                             "colormap.bmp opened although sunset.bmp had failed")
        events = run.probe_events()
        self.assertEqual(["start"], [e.kind for e in events],
                         "a frame was drawn or a reshape handled before the box")


if __name__ == "__main__":
    unittest.main()
