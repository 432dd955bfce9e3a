"""What the browser tests do with the page, written once for every engine on
top of browser.Browser: start it, wait for the program's states, read a
frame back, draw Mesa's frame to hold it to, hand the page files."""

import base64
import contextlib
import math
import os
import pathlib
import re
import subprocess
import tempfile

from PIL import Image, ImageChops

import browser as b
import gl_golden
import orvane_harness as h

LINE = "Error! Initialization failed"
POINTER = ' (see "Your own pictures" on this page)'
INSIDE = "window.orvane.frame.contentWindow"


def desktop(tool):
    """A tool of the Linux build's tests folder, whose frames and fixtures
    the browser's are held to."""
    path = os.path.join(os.environ.get("ORVANE_DESKTOP_TESTS", ""), tool)
    assert os.access(path, os.X_OK), f"no {path}: build the Linux tests first (scripts/run-tests does)"
    return path


def make_site(folder, drop=(), program=None, edit=None):
    """A site in `folder` (browser.make_site), the named parts left out."""
    def change(parts):
        for name in drop:
            os.remove(os.path.join(parts, name))
        if edit:
            edit(parts)
    return b.make_site(folder, program, change)


CONTROLLED = "return Boolean(navigator.serviceWorker.controller)"


@contextlib.contextmanager
def opened(browser, folder, how):
    """The address of the site in `folder` as a person opens it: "served";
    from "disk"; or "offline", served until its service worker has the page,
    then with the server gone."""
    if how == "disk":
        yield pathlib.Path(folder, "index.html").as_uri()
        return
    with b.serve(folder) as url:
        if how == "served":
            yield url
            return
        browser.go(url)
        browser.wait(CONTROLLED, "the service worker")
    yield url


def state(browser):
    return browser.js("return window.orvane.state")


def texts(browser):
    """The status line, the notice line and the program's output, as shown."""
    return browser.js("return ['status', 'notice', 'output'].map((id) => document.getElementById(id).innerText"
                      ".trim())")


def frames(browser):
    return browser.js(f"return {INSIDE}.orvaneFrames?.length || 0")


def running(browser, count=3, start=None):
    """Waits until the program (the `start`th, if given) runs and has drawn
    `count` frames, failing at once on a box or an end."""
    def ready():
        now, starts = browser.js("return [window.orvane.state, window.orvane.starts]")
        if start is not None and starts < start:
            return False
        assert now in ("starting", "running"), texts(browser)
        return now == "running" and frames(browser) >= count
    browser.wait_for(ready, "the program's frames")


def grab(browser, after_seconds=1.2):
    """A frame read back before it is shown, once the rate text is up:
    (picture as RGB, top row first, the number of GL calls up to it)."""
    browser.wait(f"const f = {INSIDE}.orvaneFrames; return f.length > 1 && f.at(-1) - f[0] > {after_seconds * 1000}",
                 "the first rate")
    browser.js(f"{INSIDE}.orvaneGrab = {{frame: {INSIDE}.orvaneFrames.length + 2}}")
    g = browser.wait(f"return {INSIDE}.orvaneGrab.pixels && {INSIDE}.orvaneGrab", "the frame read back")
    picture = Image.frombytes("RGBA", (g["width"], g["height"]), base64.b64decode(g["pixels"])).convert("RGB")
    return picture.transpose(Image.FLIP_TOP_BOTTOM), g["calls"]  # WebGL's rows come bottom first


def mesa_frame(folder, size, angle_x, angle_y, text=""):
    """The Linux build's frame of that size at those angles with that rate
    text, in a private Xvfb."""
    with h.Display() as display:
        ppm = subprocess.run([desktop("reference_frame"), "-geometry", "%dx%d" % size, angle_x, angle_y, text],
                             cwd=folder, env=display.env(), check=True, capture_output=True, timeout=60).stdout
    with tempfile.NamedTemporaryFile(suffix=".ppm") as f:
        f.write(ppm)
        f.flush()
        return Image.open(f.name).convert("RGB")


def compare(a, b):
    """(mean absolute difference per channel in levels, share of pixels
    within 8 levels in every channel, PSNR in dB) of two RGB pictures."""
    pixels = list(ImageChops.difference(a, b).getdata())
    mean = sum(map(sum, pixels)) / (3 * len(pixels))
    within = sum(max(p) <= 8 for p in pixels) / len(pixels)
    squared = sum(v * v for p in pixels for v in p) / (3 * len(pixels))
    return mean, within, 10 * math.log10(255 ** 2 / squared) if squared else math.inf


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


def drop(browser, role, name, data):
    """Drops a file on the role's zone, as the browser hands a drop to the page."""
    browser.js("""
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
        now = state(browser)
        assert now != "stopped", texts(browser)
        if now == "box":
            return "refused"
        return now == "running" and frames(browser) > 2 and "accepted"
    if browser.wait_for(either, "the box or a frame") == "accepted":
        return "accepted", None, None
    box = browser.js("return ['warning-caption', 'warning-text', 'warning-ok'].map((id) => "
                     "document.getElementById(id).textContent)")
    assert box == ["Error!", "Initialization failed", "OK"]
    assert browser.js("return document.activeElement.id") == "warning-ok", "the box did not take the focus"
    assert frames(browser) == 0
    assert browser.js("return window.orvane.status") is None, "ended before the box was dismissed"
    dismiss(browser)
    browser.wait("return window.orvane.state == 'ended'", "the end")
    assert texts(browser)[0] == "The program ended with status 1. Nothing more is drawn."
    return "refused", [line["text"] for line in browser.js("return window.orvane.lines")], \
        browser.js("return window.orvane.status")


TEXT_ROWS = 48  # at the bottom: the rate text, 24 pixels high, and its baseline's 19


def recorded_site(folder):
    """The page in `folder` with the recording build, on the sample sunset
    and a colour map whose rows are not a multiple of four bytes."""
    def narrow(parts):
        colormap = os.path.join(parts, "colormap.bmp")
        Image.open(colormap).convert("RGB").resize((253, 255)).quantize(256).save(colormap)
    return make_site(folder, program=os.environ["ORVANE_RECORDED"], edit=narrow)


def calls(browser):
    return browser.js(f"return {INSIDE}.orvaneGlCalls.join('\\n')").split("\n")


def held_to_mesa(folder, frame, count, recorded):
    """Compares a frame read back with Mesa's at the same angles with the
    same rate text: the whole frame, and the text's rows on their own."""
    _, _, frames = gl_golden.follow(recorded[:count], glx=False)
    text = read_text(frames[-1][1], glyphs())
    assert re.fullmatch(r"FPS = \d+\.\d\d", text), text
    rotations = [c for c in recorded[:count] if c.startswith("glRotated")]
    angle_y, angle_x = (re.search(r"angle = ([^,]+)", c).group(1) for c in rotations[-2:])
    mesa = mesa_frame(folder, frame.size, angle_x, angle_y, text)
    # The scene at today's thresholds; the text's rows by the text's own
    # pixels, its pure green in either frame, which both must share.
    scene = (0, 0, frame.size[0], frame.size[1] - TEXT_ROWS)
    mean, within, psnr = compare(frame.crop(scene), mesa.crop(scene))
    strokes, mesa_strokes = set(green(frame)), set(green(mesa))
    shared = len(strokes & mesa_strokes) / max(1, len(strokes | mesa_strokes))
    print(f"{frame.size}, angles {angle_x}, {angle_y}, {text!r}: mean difference {mean:.3f}, "
          f"within 8 levels {within:.4%}, PSNR {psnr:.1f} dB; text pixels shared {shared:.3f}")
    assert mean <= 0.5 and within >= 0.995 and psnr >= 40, (mean, within, psnr)
    assert min(y for _, y in strokes | mesa_strokes) >= scene[3], "green above the text's rows"
    assert shared >= 0.9, f"the rate text's strokes differ from Mesa's: {shared:.3f} of their pixels shared"


def grab_and_hold(browser, folder, size):
    frame, count = grab(browser)
    assert frame.size == size
    held_to_mesa(folder, frame, count, calls(browser))


def green(shot):
    """(x, y) of the rate text's pure green in a screenshot."""
    return [(i % shot.size[0], i // shot.size[0]) for i, (r, g, b) in enumerate(shot.getdata())
            if g >= 200 and r <= 60 and b <= 60]


def click_ok(browser):
    browser.click("warning-ok")


def choose(browser, folder, role, name, data):
    """Chooses a file (written into `folder`) with the role's file chooser,
    as a person does."""
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    browser.choose(role, path)


TAGS = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "wcag22a", "wcag22aa", "best-practice"]


def audit(browser):
    """axe's violations on the page and inside the program's frame, as
    'rule (impact): where' lines; the rules it ran are kept in RULES_RUN."""
    source = open(os.environ["ORVANE_AXE"]).read()
    browser.js("""
        for (const doc of [document, window.orvane.frame?.contentDocument]) {
          if (!doc || doc.defaultView.axe) continue;
          const script = doc.createElement("script");
          script.textContent = arguments[0];
          doc.head.append(script);
        }
        window.audited = null;
        axe.run(document, {runOnly: {type: "tag", values: arguments[1]}, resultTypes: ["violations"]})
           .then((r) => { window.audited = r; }, (e) => { window.audited = {error: String(e)}; });
    """, source, TAGS)
    result = browser.wait("return window.audited && {error: audited.error, passes: audited.passes?.map((r) => r.id),"
                          " incomplete: audited.incomplete?.map((r) => r.id), inapplicable: audited.inapplicable?.map("
                          "(r) => r.id), violations: audited.violations?.map((r) => r.id + ' (' + r.impact + '): ' +"
                          " r.nodes.map((n) => n.target.join(' ')).join(', '))}", "axe's audit")
    assert not result.get("error"), result["error"]
    RULES_RUN.update(result["passes"] + result["incomplete"] + result["inapplicable"] + result["violations"])
    return result["violations"]


RULES_RUN = set()
