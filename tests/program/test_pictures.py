"""The program as a person meets it, on Linux or, built for Windows, under
Wine: the sample pictures give the scene, the ring in the middle and the
rate in green at the bottom right. Pictures it cannot use give the "Error!"
box, which waits for the user, with the reason on standard error; nothing
is drawn, the exit status is 1, and the colour map is never opened after
the sunset failed. Then pictures of the fixture table as the sunset or the
colour map in turn: frames and a normal close, or the box and status 1;
never a crash, a hang or (in the sanitizer build) a report."""

import os
import re
import shutil
import subprocess
import time
import unittest

import orvane_harness as h

LINE = "Error! Initialization failed"
POINTER = ' (see "Your own pictures" in the README)'
SIZE = (400, 250)


def press(key):
    return lambda display, box: display.xdotool("windowfocus", "--sync", box, "key", key)


def click_ok(display, box):
    width, height = display.geometry(box)[2:]
    at = (width // 2, height - 24) if h.WINDOWS else (264, 93)  # ours is 320 x 120
    display.xdotool("mousemove", "--window", box, *at, "click", "1")


# The picture that fails, the fixture put in its place (None: missing), how
# the box is dismissed, and the reason given on standard error.
CASES = [
    ("sunset.bmp", None, click_ok, "cannot open: No such file or directory"),
    ("colormap.bmp", None, press("Return"), "cannot open: No such file or directory"),
    ("sunset.bmp", "bits_24.bmp", press("Escape"), "24 bits per pixel; only 8-bit paletted pictures are read"),
    ("colormap.bmp", "compression_1.bmp", lambda d, box: d.close_request(box),
     "run-length compressed; only uncompressed pictures are read"),
    ("sunset.bmp", "cut_in_headers_30.bmp", press("space"), "ends after 30 bytes, inside its headers"),
    ("colormap.bmp", "million_squared.bmp", lambda d, box: d.xdotool("windowclose", box),
     "1000000 x 1000000 pixels; each side may be at most 16384"),
][:5 if h.WINDOWS else 6]  # Wine's boxes are not destroyed from outside


class PicturesTest(unittest.TestCase):

    def setUp(self):
        self.folder = h.scratch_folder(self, corpus=True)
        self.sound = {}
        for name in ("sunset.bmp", "colormap.bmp"):
            with open(os.path.join(self.folder, name), "rb") as f:
                self.sound[name] = f.read()

    def use(self, picture=None, fixture=None):
        """The sound pictures, but `fixture` (None: nothing) as `picture`."""
        for name, data in self.sound.items():
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
        if picture:
            os.remove(os.path.join(self.folder, picture))
        if fixture:
            shutil.copy(os.path.join(self.folder, "corpus", fixture), os.path.join(self.folder, picture))

    def test_scene_with_the_ring_in_the_middle_and_the_rate_at_the_bottom_right(self):
        self.use()
        with h.Display() as display, h.Program(display, self.folder) as program:
            window = program.window()
            display.xdotool("windowmove", window, 16, 16, "windowsize", window, *SIZE)
            h.wait_until(lambda: display.geometry(window)[2:] == SIZE, "the new size")
            h.wait_until(lambda: h.green_pixels(display.screenshot(window)), "the rate text")
            shot = display.screenshot(window)
            self.assertEqual(0, program.close(window))
        picture = os.path.join(self.folder, "sunset.bmp")
        for corner, worst in h.corner_differences(shot, picture).items():
            self.assertLessEqual(worst, h.TOLERANCE, f"corner {corner}")
        # The ring (outer radius 2.5 at a distance of 8) stays inside a disc
        # around the middle; elsewhere the picture, but for the rate text.
        width, height = SIZE
        pixels, expected = shot.load(), h.stretched(picture, width, height)
        covered = stray = 0
        for y in range(height):
            for x in range(width):
                off = h.difference(pixels[x, y], expected(x, y)) > h.TOLERANCE
                if (x + 0.5 - width / 2) ** 2 + (y + 0.5 - height / 2) ** 2 <= (0.41 * height) ** 2:
                    covered += off
                elif y < height - 48 or x < width // 4:
                    stray += off
        self.assertLessEqual(stray, 0.002 * width * height, "the background differs outside the ring")
        self.assertGreater(covered, 0.05 * width * height, "no ring over the background")
        # "FPS = 9.99" to "FPS = 9999.99", placed by its monospaced width and
        # drawn in the proportional font: it starts where the monospaced text
        # would (plus the first letter's margin) and ends short of the edge.
        xs, ys = zip(*h.green_pixels(shot))
        starts = [width - round(n * h.MONO_WIDTH) * h.SCALE for n in range(10, 14)]
        self.assertTrue(any(s - 1 <= min(xs) <= s + 6 for s in starts), (min(xs), starts))
        self.assertLess(max(xs), width - 10)
        # Pixel row r, counted from the top, spans height - r - 1 to height - r.
        self.assertAlmostEqual(height - h.BASELINE, max(ys) + 0.5, delta=1.5)
        self.assertAlmostEqual(height - h.BASELINE - h.CAP_HEIGHT, min(ys) + 0.5, delta=1.5)

    def test_box_waits_then_status_1(self):
        for picture, fixture, dismiss, reason in CASES:
            with self.subTest(picture=picture, fixture=fixture):
                self.use(picture, fixture)
                self.check_box(picture, dismiss, f"{picture}: {reason}{POINTER}")

    def check_box(self, picture, dismiss, reason):
        with h.Display() as display, h.Program(display, self.folder, watch=True) as program:
            box = program.window("Error!")
            h.wait_until(lambda: LINE in program.stderr(), "the line on standard error")
            if not h.WINDOWS:  # the system's own box under Wine
                self.assertEqual((320, 120), display.geometry(box)[2:])
                yellow = lambda: sum(1 for r, g, b in display.screenshot(box).getdata()
                                     if r > 200 and 150 < g < 230 and b < 60) > 500
                h.wait_until(yellow, "the warning sign")
                # It waits for the user: a click beside the button does nothing.
                display.xdotool("mousemove", "--window", box, 150, 42, "click", "1")
                time.sleep(0.5)
                self.assertTrue(program.running(), "the program did not wait")
            dismiss(display, box)
            self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))
            opened = set(program.opened_files())
        # Which picture and why, then the line of the box (Wine ends lines with CR LF).
        self.assertEqual([reason, LINE], [l.rstrip("\r") for l in program.stderr().splitlines()[-2:]])
        present = {name for name in self.sound if os.path.exists(os.path.join(self.folder, name))}
        reached = {"sunset.bmp", "colormap.bmp"} if picture == "colormap.bmp" else {"sunset.bmp"}
        self.assertEqual(reached & present, opened & set(self.sound))
        drawn = [kind for kind in program.log().kinds if kind in ("frame", "reshape")]
        self.assertEqual([], drawn, "drawn or reshaped before the box")

    def test_fixtures_draw_or_are_refused(self):
        with open(os.path.join(self.folder, "corpus", "corpus.tsv")) as table:
            fixtures = [line.split() for line in table]
        with h.Display() as display:
            for number, (name, outcome) in enumerate(fixtures[::10 if h.WINDOWS else 1]):
                role = ("sunset.bmp", "colormap.bmp")[number % 2]
                self.use(role, name)
                with self.subTest(name, role=role), h.Program(display, self.folder) as program:
                    window = program.window("Orvane" if outcome == "accepted" else "Error!")
                    if outcome == "accepted":
                        if not h.WINDOWS:
                            program.wait_frames(3)
                        self.assertEqual(0, program.close(window), program.stderr())
                    else:
                        press("Return")(display, window)
                        self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))

    @unittest.skipUnless(h.WINDOWS, "the Windows program")
    def test_imports_only_system_libraries(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", h.PROGRAM], check=True,
                              capture_output=True, text=True).stdout
        imported = {name.upper() for name in re.findall(r"DLL Name: (\S+)", dump)}
        system = {"ADVAPI32.DLL", "GDI32.DLL", "GLU32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "OPENGL32.DLL",
                  "USER32.DLL", "WINMM.DLL"}
        self.assertTrue(imported and imported <= system, imported - system)


if __name__ == "__main__":
    unittest.main()
