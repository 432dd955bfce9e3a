"""The web build in Debian's headless Chromium, as a person meets it and as
the desktop program is held: every GL call the layer receives against
call_order.golden; a frame against Mesa's frame at the same angles; the rate
in green at the canvas's bottom right, agreeing with the frames drawn; and
pictures missing, refused or of any kind giving the reason, the box and
status 1, or the scene, never a stuck page."""

import base64
import io
import math
import os
import re
import shutil
import subprocess
import tempfile

import pytest
from PIL import Image, ImageChops
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import gl_golden
import orvane_harness as h
from browser import serve

LINE = "Error! Initialization failed"
POINTER = ' (see "Your own pictures" on this page)'
TEXT_ROWS = 48  # the rate text's rows at the bottom, which Mesa's first frame lacks


def desktop(tool):
    """A tool of the Linux build's tests folder, whose frames and fixtures
    the browser's are held to."""
    path = os.path.join(os.environ.get("ORVANE_DESKTOP_TESTS", ""), tool)
    assert os.access(path, os.X_OK), f"no {path}: build the Linux tests first (scripts/run-tests does)"
    return path


def wait(condition, what, timeout=60):
    return h.wait_until(condition, what, timeout, 0.1)


def glyphs():
    """{strips as vertex tuples: character} of the proportional stroke font."""
    source = open(os.environ["ORVANE_STROKE_FONT"]).read()
    strips = {}
    for char, strip, body in re.findall(r"ch(\d+)st(\d+)\[\] =\s*\{(.*?)\};", source, re.S):
        vertices = tuple((round(float(x), 2), round(float(y), 2)) for x, y in
                         re.findall(r"\{\s*(-?[\d.]+)f?,\s*(-?[\d.]+)f?\}", body))
        strips.setdefault(int(char), {})[int(strip)] = vertices
    table = {tuple(s[i] for i in sorted(s)): chr(c) for c, s in strips.items()}
    table[()] = " "
    return table


def read_text(calls, table):
    """The characters GLUT's strokes in a frame's text calls draw."""
    text, strips, vertices = "", [], []
    for call in calls:
        if call.startswith("glVertex2f"):
            vertices.append(tuple(round(float(v), 2) for v in re.findall(r"= ([^,)]+)", call)))
        elif call == "glEnd()":
            strips.append(tuple(vertices))
            vertices = []
        elif call.startswith("glTranslatef"):
            text += table[tuple(strips)]
            strips = []
    return text


def compare(a, b):
    """(mean absolute difference per channel in levels, share of pixels
    within 8 levels in every channel, PSNR in dB) of two RGB pictures."""
    pixels = list(ImageChops.difference(a, b).getdata())
    mean = sum(map(sum, pixels)) / (3 * len(pixels))
    within = sum(max(p) <= 8 for p in pixels) / len(pixels)
    squared = sum(v * v for p in pixels for v in p) / (3 * len(pixels))
    return mean, within, 10 * math.log10(255 ** 2 / squared) if squared else math.inf


def mesa_frame(folder, angle_x, angle_y):
    """The Linux build's frame at those angles, in a private Xvfb."""
    with h.Display() as display:
        ppm = subprocess.run([desktop("reference_frame"), angle_x, angle_y], cwd=folder,
                             env=display.env(), check=True, capture_output=True, timeout=60).stdout
    with tempfile.NamedTemporaryFile(suffix=".ppm") as f:
        f.write(ppm)
        f.flush()
        return Image.open(f.name).convert("RGB")


@pytest.fixture(scope="module")
def recorded(browser):
    """The recording build for three rate intervals, on the sample sunset and
    a colour map whose rows are not a multiple of four bytes: its calls,
    each frame's time and one frame's pixels with the number of calls up to
    it."""
    folder = tempfile.mkdtemp(prefix="orvane-site-")
    shutil.copytree(os.environ["ORVANE_SITE"], folder, dirs_exist_ok=True)
    for name in ("orvane.js", "orvane.wasm"):
        shutil.copy(os.path.join(os.environ["ORVANE_RECORDED"], name), folder)
    colormap = os.path.join(folder, "colormap.bmp")
    Image.open(colormap).convert("RGB").resize((253, 255)).quantize(256).save(colormap)
    with serve(folder) as url:
        browser.get(url)
        inside = "window.orvane.frame.contentWindow"
        wait(lambda: browser.execute_script("return window.orvane.frame?.contentWindow.orvaneFrames?.length"),
             "a frame")
        browser.execute_script(f"{inside}.orvaneGrab = {{frame: 60}}")
        wait(lambda: browser.execute_script(f"const w = {inside}; return w.orvaneGrab.pixels && "
                                            "w.orvaneFrames.at(-1) - w.orvaneFrames[0] > 3500"),
             "three rate intervals")
        run = browser.execute_script(
            "const w = window.orvane.frame.contentWindow, c = w.document.getElementById('canvas');"
            "return {calls: w.orvaneGlCalls.join('\\n'), frames: w.orvaneFrames, grab: w.orvaneGrab,"
            "        depth: c.getContext('webgl2').getContextAttributes().depth, state: window.orvane.state}")
    run["calls"] = run["calls"].split("\n")
    yield run, folder
    shutil.rmtree(folder, True)


def test_calls_follow_the_golden_calls_and_the_rate_agrees_with_the_frames(recorded):
    run, folder = recorded
    assert run["state"] == "running" and run["depth"], "no depth buffer"
    bound, reshaped, frames = gl_golden.follow(run["calls"], glx=False)
    for name, picture in (("S", "sunset.bmp"), ("C", "colormap.bmp")):
        size = Image.open(os.path.join(folder, picture)).size
        assert [str(v) for v in size] == [bound[name + "W"], bound[name + "H"]]
    assert reshaped == [(300, 300)]
    # Each rate is the frames drawn since the last one over the time they
    # took, the first counted from the first frame.
    times, table, shown, since, rates = run["frames"], glyphs(), "", 0, 0
    assert len(times) >= len(frames)
    for number, (_, calls) in enumerate(frames):
        text = read_text(calls, table)
        if text != shown:
            rate = float(re.fullmatch(r"FPS = (\d+\.\d\d)", text).group(1))
            expected = (number - since) / (times[number] - times[since]) * 1000
            assert abs(rate - expected) <= 0.01 * expected, (text, expected)
            shown, since, rates = text, number, rates + 1
    assert rates >= 3, "fewer rates than intervals"


def test_a_frame_matches_mesa_at_the_same_angles(recorded):
    run, folder = recorded
    grab = run["grab"]
    rotations = [c for c in run["calls"][:grab["calls"]] if c.startswith("glRotated")]
    angle_y, angle_x = (re.search(r"angle = ([^,]+)", c).group(1) for c in rotations[-2:])
    size = (grab["width"], grab["height"])
    # WebGL's rows come bottom first, as GL's.
    web = Image.frombytes("RGBA", size, base64.b64decode(grab["pixels"])).convert("RGB")
    web = web.transpose(Image.FLIP_TOP_BOTTOM)
    mesa = mesa_frame(folder, angle_x, angle_y)
    assert mesa.size == size
    area = (0, 0, size[0], size[1] - TEXT_ROWS)
    mean, within, psnr = compare(web.crop(area), mesa.crop(area))
    print(f"angles {angle_x}, {angle_y}: mean difference {mean:.3f}, within 8 levels {within:.4%}, "
          f"PSNR {psnr:.1f} dB")
    assert mean <= 0.5 and within >= 0.995 and psnr >= 40, (mean, within, psnr)


def green(shot):
    """(x, y) of the rate text's pure green in a screenshot."""
    return [(i % shot.size[0], i // shot.size[0]) for i, (r, g, b) in enumerate(shot.getdata())
            if g >= 200 and r <= 60 and b <= 60]


def canvas_shot(browser):
    return Image.open(io.BytesIO(browser.find_element(By.ID, "program").screenshot_as_png)).convert("RGB")


def test_scene_with_the_rate_in_green_at_the_bottom_right(browser, site):
    with serve(site()) as url:
        browser.get(url)
        assert ended(browser, click_ok)[0] == "accepted"
        shot = wait(lambda: green(canvas_shot(browser)) and canvas_shot(browser), "the rate text")
        assert browser.execute_script("return window.orvane.lines") == []
    assert shot.size == (300, 300)
    xs, ys = zip(*green(shot))
    assert min(xs) > 100 and max(xs) < 300 and min(ys) > 250, "the rate is not at the bottom right"
    # The ring in front of the sunset: the centre is neither sky nor sea.
    assert len(set(shot.crop((100, 100, 200, 200)).getdata())) > 500


def drop(browser, role, name, data):
    """Drops a file as a person drops one on the role's zone."""
    browser.execute_script("""
        const [role, name, data] = arguments, transfer = new DataTransfer();
        const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
        transfer.items.add(new File([bytes], name));
        document.getElementById("drop-" + role).dispatchEvent(
            new DragEvent("drop", {dataTransfer: transfer, bubbles: true, cancelable: true}));
    """, role, name, base64.b64encode(data).decode())


def ended(browser, dismiss):
    """Waits for the box or the scene; dismisses a box. "refused" (with the
    lines written, the status) or "accepted"."""
    def either():
        state = browser.execute_script("return window.orvane.state")
        assert state != "stopped", browser.find_element(By.ID, "status").text
        if state == "box":
            return "refused"
        return state == "running" and browser.execute_script(
            "return window.orvane.frame.contentWindow.orvaneFrames?.length > 2") and "accepted"
    if wait(either, "the box or a frame") == "accepted":
        return "accepted", None, None
    box = browser.find_element(By.ID, "warning")
    assert [box.find_element(By.ID, i).text for i in ("warning-caption", "warning-text")] == \
        ["Error!", "Initialization failed"]
    assert box.find_element(By.ID, "warning-ok").text == "OK"
    assert not browser.execute_script("return window.orvane.frame.contentWindow.orvaneFrames.length")
    assert browser.execute_script("return window.orvane.status") is None, "ended before the box was dismissed"
    dismiss(browser, box)
    wait(lambda: browser.execute_script("return window.orvane.state") == "ended", "the end")
    assert browser.find_element(By.ID, "status").text == "The program ended with status 1."
    return "refused", [line["text"] for line in browser.execute_script("return window.orvane.lines")], \
        browser.execute_script("return window.orvane.status")


def click_ok(browser, box):
    box.find_element(By.ID, "warning-ok").click()


def escape(browser, box):
    box.send_keys(Keys.ESCAPE)


def choose(role, name, data):
    """Chooses a file (written into `folder`) with the role's file chooser,
    as a person does."""
    def act(browser, folder):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        browser.find_element(By.ID, role).send_keys(path)
    return act


def dropped(role, name, data):
    return lambda browser, folder: drop(browser, role, name, data)


PNG = b"\x89PNG\r\n\x1a\n" + bytes(64)
# Without its pixels, which the browser cannot open either: the page gives
# it to the program unconverted.
BITS_24 = b"BM" + bytes(8) + (54).to_bytes(4, "little") + (40).to_bytes(4, "little") + \
    (2).to_bytes(4, "little") * 2 + (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(24)


# What a person does after the page has started, how the box is dismissed,
# and the line given on standard error (None: the sample sunset is missing
# from the page's folder).
@pytest.mark.parametrize("act,dismiss,reason", [
    (None, click_ok, "sunset.bmp: cannot open: No such file or directory"),
    (choose("sunset", "photo.png", PNG), escape,
     "sunset.bmp: not a Windows bitmap (it starts with the PNG signature)"),
    (dropped("colormap", "true colour.bmp", BITS_24), click_ok,
     "colormap.bmp: 24 bits per pixel; only 8-bit paletted pictures are read"),
    (dropped("sunset", "<b>empty</b>.bmp", b""), click_ok, "sunset.bmp: empty file"),
])
def test_a_refused_picture_gives_the_reason_the_box_and_status_1(browser, site, tmp_path, act, dismiss,
                                                                 reason):
    with serve(site(drop=() if act else ("sunset.bmp",))) as url:
        browser.get(url)
        if act:
            wait(lambda: browser.execute_script("return window.orvane.state") == "running", "the start")
            act(browser, tmp_path)
            wait(lambda: browser.execute_script("return window.orvane.starts") == 2, "the new start")
        assert ended(browser, dismiss) == ("refused", [reason + POINTER, LINE], 1)
        # What the program wrote and the file's name reach the page as text.
        assert browser.find_element(By.ID, "output").text == f"{reason}{POINTER}\n{LINE}"
        assert not browser.find_elements(By.CSS_SELECTOR, "#output b, .current b")


def test_whatever_is_dropped_ends_in_the_scene_or_a_refusal(browser, site, tmp_path):
    corpus = str(tmp_path)
    subprocess.run([desktop("make_bitmap_corpus"), corpus], check=True, stdout=subprocess.DEVNULL)
    fixtures = [line.split() for line in open(os.path.join(corpus, "corpus.tsv"))]
    files = [(name, open(os.path.join(corpus, name), "rb").read(), outcome) for name, outcome in fixtures]
    files += [("noise.jpg", os.urandom(3 << 20), "refused"), ("no name", b"BM", "refused")]
    with serve(site()) as url:
        browser.get(url)
        for number, (name, data, outcome) in enumerate(files):
            browser.find_element(By.ID, "samples").click()
            wait(lambda: browser.execute_script("return window.orvane.starts == arguments[0] && "
                                                "window.orvane.state == 'running'", 2 * number + 2), "the samples")
            role = ("sunset", "colormap")[number % 2]
            drop(browser, role, name, data)
            wait(lambda: browser.execute_script("return window.orvane.starts") == 2 * number + 3, "the start")
            # A bitmap the browser opens but the program does not read is
            # converted first, and the program draws what the page made.
            converted = ", converted to a " in browser.find_element(By.ID, "converted-" + role).text
            assert ended(browser, click_ok)[0] == ("accepted" if converted else outcome), name
