"""The Windows program under Wine in a private Xvfb: the scene and the rate
text on screen; the system's message box for pictures it cannot use, with
the reason on standard error, dismissed in every way, status 1, and the
colour map never opened when the sunset fails; a handful of hostile
pictures: frames or the box, never a crash."""

import collections
import os
import re
import shutil
import struct
import subprocess
import unittest

import orvane_harness as h

LINE = "Error! Initialization failed"
POINTER = ' (see "Your own pictures" in the README)'
# Wine's console output ends lines with CR LF.
WINE = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def start(display, folder, env=None):
    """orvane.exe under Wine; its window may take a while to come."""
    # A Wine server left by the tools (started without a display) would
    # serve the program's windows too, and a program left by a failed check
    # would go on: end them first.
    subprocess.run(["wineserver", "-k"])
    # freeglut takes DISPLAY for a Windows device name: hidden from that side.
    exe = "Z:" + h.PROGRAM.replace("/", "\\")
    return h.Program(display, folder, command=["wine", "cmd", "/c", f"set DISPLAY=&& {exe}"],
                     probe=False, env={**WINE, **(env or {})})


def f32(text):
    """A number as GL gets it (single precision), as Wine's trace prints it."""
    return "%.6f" % struct.unpack("f", struct.pack("f", float(text)))[0]


def stroke_font():
    """{a character's stroke points: the character}, from the freeglut sources
    the Windows build was made from."""
    source = os.path.join(os.path.dirname(h.PROGRAM), "src", "freeglut", "src", "fg_stroke_roman.c")
    points = collections.defaultdict(list)
    with open(source) as f:
        for code, body in re.findall(r"StrokeRoman_ch(\d+)st\d+\[\] =\s*\{(.*?)\};", f.read(), re.S):
            points[code] += [f32(v) for v in re.findall(r"(-?[\d.]+)f", body)]
    return {tuple(p): chr(int(code)) for code, p in points.items()}


def frames_from_trace(trace, font):
    """[(Wine's time of the swap, the text stroked in that frame)], read from
    Wine's trace of the GL calls: each character's strokes, then its advance."""
    frames, text, points = [], "", []
    for stamp, call, args in re.findall(r"^(\d+\.\d+):\S*?trace:\w+:(\w+) ?(.*)$", trace, re.M):
        if call == "glxdrv_wglSwapBuffers":
            frames.append((float(stamp), text))
            text = ""
        elif call == "glVertex2f":
            points += [f32(v) for v in re.findall(r"-?[\d.]+", args)[:2]]
        elif call == "glTranslatef":
            text += font.get(tuple(points), "?") if points else " "
            points = []
    return frames


def press(key):
    return lambda display, box: display.xdotool("windowfocus", "--sync", box, "key", key)


def click_ok(display, box):
    width, height = display.geometry(box)[2:]
    display.xdotool("mousemove", "--window", box, width // 2, height - 24, "click", "1")


class WindowsTest(unittest.TestCase):

    def test_imports_only_system_libraries(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", h.PROGRAM], check=True,
                              capture_output=True, text=True).stdout
        imported = {name.upper() for name in re.findall(r"DLL Name: (\S+)", dump)}
        system = {"ADVAPI32.DLL", "GDI32.DLL", "GLU32.DLL", "KERNEL32.DLL", "MSVCRT.DLL",
                  "OPENGL32.DLL", "USER32.DLL", "WINMM.DLL"}
        self.assertTrue(imported and imported <= system, imported - system)

    def setUp(self):
        self.folder = h.scratch_folder(self, corpus=True)
        self.sound = {}
        for name in ("sunset.bmp", "colormap.bmp"):
            with open(os.path.join(self.folder, name), "rb") as f:
                self.sound[name] = f.read()

    def use(self, picture=None, fixture=None):
        for name, data in self.sound.items():
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
        if picture:
            os.remove(os.path.join(self.folder, picture))
        if fixture:
            shutil.copy(os.path.join(self.folder, "corpus", fixture),
                        os.path.join(self.folder, picture))

    def test_scene_and_rate_text(self):
        self.use()
        with h.Display() as display, start(display, self.folder) as program:
            window = program.window(timeout=90)
            display.xdotool("windowmove", window, 16, 16, "windowsize", window, 400, 250)
            h.wait_until(lambda: display.geometry(window)[2:] == (400, 250), "the new size")
            h.wait_until(lambda: h.green_pixels(display.screenshot(window)), "the rate text")
            shot = display.screenshot(window)
            self.assertEqual(0, program.close(window))
        for corner, worst in h.corner_differences(
                shot, os.path.join(self.folder, "sunset.bmp")).items():
            self.assertLessEqual(worst, h.TOLERANCE, f"corner {corner}")
        xs, ys = zip(*h.green_pixels(shot))
        measured = round(len("FPS = 000.00") * h.MONO_WIDTH) * h.SCALE
        self.assertLess(abs(min(xs) - (400 - measured)), 2 * h.MONO_WIDTH * h.SCALE)
        self.assertAlmostEqual(250 - h.BASELINE, max(ys) + 0.5, delta=1.5)

    def test_rate_text_matches_the_swaps_wine_counts(self):
        self.use()
        font, env = stroke_font(), {"WINEDEBUG": "+timestamp,trace+opengl,trace+wgl"}
        with h.Display() as display, start(display, self.folder, env) as program:
            window = program.window(timeout=90)
            h.wait_until(lambda: len({t for _, t in frames_from_trace(program.stderr(), font)}) > 4,
                         "four rates", timeout=90, interval=2)
            self.assertEqual(0, program.close(window))
        frames = frames_from_trace(program.stderr(), font)
        texts = [text for _, text in frames]
        changes = [k for k in range(1, len(frames)) if texts[k] != texts[k - 1]]
        self.assertEqual("", texts[0])
        self.assertGreaterEqual(len(changes), 3, texts[-1])
        for p, k in zip(changes, changes[1:]):
            self.assertRegex(texts[k], r"^FPS = \d+\.\d\d$")
            counted = (k - p) / (frames[k][0] - frames[p][0])
            if frames[k][0] - frames[p][0] < 2.0:  # not two rates that print alike
                self.assertAlmostEqual(float(texts[k][6:]), counted, delta=0.05 * counted)

    def test_message_box_then_status_1(self):
        cases = [
            ("sunset.bmp", None, press("Return"), "cannot open: No such file or directory"),
            ("colormap.bmp", None, press("Escape"), "cannot open: No such file or directory"),
            ("sunset.bmp", "bits_24.bmp", press("space"),
             "24 bits per pixel; only 8-bit paletted pictures are read"),
            ("colormap.bmp", "compression_1.bmp", click_ok,
             "run-length compressed; only uncompressed pictures are read"),
            ("sunset.bmp", "cut_in_headers_30.bmp", lambda d, box: d.close_request(box),
             "ends after 30 bytes, inside its headers"),
        ]
        for picture, fixture, dismiss, reason in cases:
            with self.subTest(picture=picture, fixture=fixture):
                self.use(picture, fixture)
                present = {name for name in self.sound if os.path.exists(os.path.join(self.folder, name))}
                # Which files are opened in the folder, by Wine's server too.
                opened = subprocess.Popen(["inotifywait", "-m", "-q", "-e", "open", "--format",
                                           "%f", self.folder], stdout=subprocess.PIPE, text=True)
                with h.Display() as display, start(display, self.folder) as program:
                    box = program.window("Error!", timeout=90)
                    h.wait_until(lambda: LINE in program.stderr(), "the line on standard error")
                    dismiss(display, box)
                    self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))
                opened.terminate()
                names = opened.communicate()[0].split()
                lines = [l.rstrip("\r") for l in program.stderr().splitlines()
                         if l.startswith(picture) or l.startswith("Error!")]
                self.assertEqual([f"{picture}: {reason}{POINTER}", LINE], lines)
                # The colour map only after a sound sunset.
                reached = {"sunset.bmp", "colormap.bmp"} if picture == "colormap.bmp" else {"sunset.bmp"}
                self.assertEqual(reached & present, set(names) & set(self.sound))

    def test_hostile_pictures_give_frames_or_the_box(self):
        for number, (name, drawn) in enumerate([
                ("top_down.bmp", True), ("cut_at_119.bmp", True), ("side_16384.bmp", True),
                ("png_signature.bmp", False), ("million_squared.bmp", False),
                ("offset_in_headers_20.bmp", False), ("header_size_12.bmp", False)]):
            role = ("sunset.bmp", "colormap.bmp")[number % 2]
            self.use(role, name)
            with self.subTest(name, role=role), h.Display() as display, \
                    start(display, self.folder) as program:
                window = program.window("Orvane" if drawn else "Error!", timeout=90)
                if drawn:
                    self.assertEqual(0, program.close(window))
                else:
                    press("Return")(display, window)
                    self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))


if __name__ == "__main__":
    unittest.main()
