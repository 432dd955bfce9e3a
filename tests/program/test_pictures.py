"""The program as a person meets it, on Linux or, built for Windows, under
Wine: the sample pictures give the scene, the ring in the middle and the
rate in green at the bottom right. Pictures it cannot use give the "Error!"
box, which waits for the user, with the reason on standard error; nothing
is drawn, the exit status is 1, and the colour map is never opened after
the sunset failed. Then pictures of the fixture table as the sunset or the
colour map in turn: frames and a normal close, or the box and status 1;
never a crash, a hang or (in the sanitizer build) a report."""

import io
import os
import re
import shutil
import subprocess
import tempfile
import time

import pytest
from PIL import Image

import orvane_harness as h

PICTURES = ("sunset.bmp", "colormap.bmp")
LINE = "Error! Initialization failed"
POINTER = " (see README-windows.txt)" if h.WINDOWS else ' (see "man orvane")'
SIZE = (512, 512)  # the sample sunset's: one texel a pixel
TOLERANCE = 4  # llvmpipe's linear filtering comes within a level or two
SVG = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "orvane.svg")


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

with tempfile.TemporaryDirectory() as corpus:
    subprocess.run(h.tool(h.CORPUS_TOOL) + [corpus], check=True, stdout=subprocess.DEVNULL)
    FIXTURES = [line.split()[:2] for line in open(os.path.join(corpus, "corpus.tsv"))][::10 if h.WINDOWS else 1]


def box_first(display, program, expect_box):
    """Waits for a box or the first frame, whichever comes first, failing at
    once if the program stops: the box's name, or "drawn". Under Wine, where
    nothing counts frames, the "Error!" box is looked for, and the program's
    own window stands for frames where no box is due."""
    def either():
        assert program.running(), program.stopped()
        if h.WINDOWS:
            names = display.windows()
            return "Error!" if "Error!" in names else "drawn" if not expect_box and "Orvane" in names else None
        boxes = set(display.windows()) - {"Orvane"}
        return boxes.pop() if boxes else program.frames() and "drawn"
    return h.wait_until(either, "a box or a frame")


@pytest.fixture(scope="module")
def use(folder):
    """Puts the sound pictures back, but `fixture` (None: nothing) as `picture`."""
    sound = {name: open(os.path.join(folder, name), "rb").read() for name in PICTURES}

    def use(picture=None, fixture=None):
        for name, data in sound.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if picture:
            os.remove(os.path.join(folder, picture))
        if fixture:
            shutil.copy(os.path.join(folder, "corpus", fixture), os.path.join(folder, picture))
    return use


def green(shot):
    """(x, y) of the rate text's pure green in a screenshot."""
    return [(i % shot.size[0], i // shot.size[0]) for i, (r, g, b) in enumerate(shot.getdata())
            if g >= 200 and r <= 60 and b <= 60]


@pytest.fixture(scope="module")
def other_display():
    with h.Display() as display:
        yield display


def test_scene_with_the_ring_in_the_middle_and_the_rate_at_the_bottom_right(display, folder, use, start):
    use()
    if h.WINDOWS:  # Wine's trace of the pixel formats shows the one the window gets
        program = start(env={"WINEDEBUG": "trace+wgl"})
    else:  # through its menu entry, as a desktop starts it: in the installed pictures' folder
        path = os.pathsep.join([os.path.dirname(h.PROGRAM), os.environ["PATH"]])
        program = start(command=["dex", "-w", os.environ["ORVANE_MENU_ENTRY"]], env={"PATH": path}, probe=False)
    window = program.window()
    if h.WINDOWS:  # the window's icon is the program's drawing, at each size Wine shows
        icons = h.wait_until(lambda: display.icons(window), "the window's icon")
        for (width, height), pixels in icons.items():
            drawn = subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height), SVG], check=True,
                                   capture_output=True).stdout
            argb = [a << 24 | r << 16 | g << 8 | b for r, g, b, a in
                    Image.open(io.BytesIO(drawn)).convert("RGBA").getdata()]
            off = max(max(abs((p >> s & 255) - (q >> s & 255)) for s in (0, 8, 16, 24))
                      for p, q in zip(pixels, argb))
            assert off <= TOLERANCE, f"the {width}x{height} icon differs by {off}"
    else:
        pid = open(f"/proc/{program.process.pid}/task/{program.process.pid}/children").read().split()[0]
        assert os.readlink(f"/proc/{pid}/cwd") == h.PICTURES
        wm_class = subprocess.run(["xprop", "-id", window, "WM_CLASS"], env=display.env(), check=True,
                                  capture_output=True, text=True).stdout
        assert wm_class.split("=")[1].strip() == '"orvane", "Orvane"'
    display.xdotool("windowmove", window, 16, 16, "windowsize", window, *SIZE)
    h.wait_until(lambda: display.geometry(window)[2:] == SIZE, "the new size")
    h.wait_until(lambda: green(display.screenshot(window)), "the rate text")
    shot = display.screenshot(window)
    assert program.close(window) == 0
    if h.WINDOWS:  # double-buffered, with a depth buffer
        trace = program.stderr()
        chosen = re.findall(r"trace:wgl:set_pixel_format \(\w+,(\d+)\)", trace)[-1]
        described = re.findall(rf"wglDescribePixelFormat \(\w+,{chosen},.*\n.*\n"
                               r".*dump_PIXELFORMATDESCRIPTOR (.*)", trace)
        assert re.search(r" depth [1-9]", described[-1]) and "PFD_DOUBLEBUFFER" in described[-1], described[-1]
    sunset = Image.open(os.path.join(folder, "sunset.bmp")).convert("RGB")
    assert sunset.size == SIZE
    # The ring (outer radius 2.5 at a distance of 8) stays inside a disc
    # around the middle; elsewhere the picture, upright, but for the rate text.
    width, height = SIZE
    covered = stray = 0
    for i, (seen, texel) in enumerate(zip(shot.getdata(), sunset.getdata())):
        x, y = i % width, i // width
        off = max(abs(a - b) for a, b in zip(seen, texel)) > TOLERANCE
        if (x + 0.5 - width / 2) ** 2 + (y + 0.5 - height / 2) ** 2 <= (0.41 * height) ** 2:
            covered += off
        elif y < height - 48 or x < width // 4:
            stray += off
    assert stray <= 0.002 * width * height, "the background differs outside the ring"
    assert covered > 0.05 * width * height, "no ring over the background"
    # The rate's placing is the GL call test's; here it only shows where a person looks.
    xs, ys = zip(*green(shot))
    assert min(xs) > width // 2 and min(ys) > height - 48, (min(xs), min(ys))


@pytest.mark.parametrize("picture,fixture,dismiss,reason", CASES)
def test_box_waits_then_status_1(display, other_display, folder, use, start, picture, fixture, dismiss,
                                 reason):
    use(picture, fixture)
    if h.WINDOWS:
        program = start(watch=True)
    else:  # on the display GLUT was told to open, whatever DISPLAY names, if anything
        first, display = display, other_display
        wrong = first.name if picture == "sunset.bmp" else ""
        program = start(on=display, watch=True, argv=["-display", display.name], env={"DISPLAY": wrong})
    assert box_first(display, program, True) == "Error!", program.stderr()
    box = program.window("Error!")
    h.wait_until(lambda: LINE in program.stderr(), "the line on standard error")
    if not h.WINDOWS:  # the system's own box under Wine
        assert display.geometry(box)[2:] == (320, 120)
        yellow = lambda: sum(1 for r, g, b in display.screenshot(box).getdata()
                             if r > 200 and 150 < g < 230 and b < 60) > 500
        h.wait_until(yellow, "the warning sign")
        # It waits for the user: a click beside the button does nothing.
        display.xdotool("mousemove", "--window", box, 150, 42, "click", "1")
        time.sleep(0.5)
        assert program.running(), "the program did not wait"
        assert first.windows() == {}, "a window on the display DISPLAY names"
    dismiss(display, box)
    assert program.process.wait(timeout=h.TIMEOUT) == 1
    opened = set(program.opened_files())
    # Which picture and why, then the line of the box (Wine ends lines with CR LF).
    lines = [line.rstrip("\r") for line in program.stderr().splitlines()[-2:]]
    assert lines == [f"{picture}: {reason}{POINTER}", LINE]
    present = {name for name in PICTURES if os.path.exists(os.path.join(folder, name))}
    reached = set(PICTURES) if picture == "colormap.bmp" else {"sunset.bmp"}
    assert opened & set(PICTURES) == reached & present
    log = program.log()
    assert not log.frames and not log.reshapes, "drawn before the box"


@pytest.mark.parametrize("number,name,outcome", [(n, *f) for n, f in enumerate(FIXTURES)])
def test_fixture_draws_or_is_refused(display, use, start, number, name, outcome):
    use(PICTURES[number % 2], name)
    program = start()
    refused = outcome == "refused"
    assert box_first(display, program, refused) == ("Error!" if refused else "drawn"), program.stderr()
    if not refused:
        if not h.WINDOWS:
            program.wait_frames(3)
        assert program.close(program.window()) == 0, program.stderr()
    else:
        press("Return")(display, program.window("Error!"))
        assert program.process.wait(timeout=h.TIMEOUT) == 1
