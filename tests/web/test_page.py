"""The web build in one browser engine, as a person meets it and as the
desktop program is held: every GL call the layer receives against
call_order.golden, through a resize while running; frames at several sizes
against Mesa's frames at the same angles with the same rate text; the rate
agreeing with the frames drawn; the rate in green at the window's bottom
right; and pictures missing, refused or of any kind giving the reason, the
box and status 1, or the scene, never a stuck page."""

import hashlib
import os
import re
import subprocess

import pytest
from PIL import Image

import browser as b
import gl_golden
import page as p
from browser import serve
from conftest import chromium_only

@pytest.fixture(scope="module")
def recording(browser, tmp_path_factory):
    """The recording build for three rate intervals at GLUT's default size,
    then resized while running: its calls, each frame's time, and a frame
    read back on the way."""
    folder = p.recorded_site(str(tmp_path_factory.mktemp("recorded")))
    with serve(folder) as url:
        browser.go(url)
        p.running(browser)
        grabbed = p.grab(browser)
        # Three rate intervals, and time for one to be stretched by a stall of a busy machine.
        browser.wait(f"const f = {p.INSIDE}.orvaneFrames; return f.at(-1) - f[0] > 4500", "three rate intervals")
        before = p.frames(browser)
        browser.js("const [w, h] = [document.getElementById('width'), document.getElementById('height')];"
                   "w.value = 320; h.value = 200; h.dispatchEvent(new Event('change'));")
        browser.wait(f"return arguments[0] + 5 < {p.INSIDE}.orvaneFrames.length", "frames after the resize",
                     before)
        run = browser.js(f"const w = {p.INSIDE}, c = w.document.getElementById('canvas');"
                         "return {frames: w.orvaneFrames, clears: w.orvaneClears, calls: w.orvaneGlCalls.join('\\n'), state: window.orvane.state,"
                         "        depth: c.getContext('webgl2').getContextAttributes().depth}")
        run["calls"] = run["calls"].split("\n")
    yield run, folder, grabbed


def test_calls_follow_the_golden_calls_through_a_resize_and_the_rate_agrees_with_the_frames(recording):
    run, folder, _ = recording
    assert run["state"] == "running" and run["depth"], "no depth buffer"
    bound, reshaped, frames = gl_golden.follow(run["calls"], glx=False)
    for name, picture in (("S", "sunset.bmp"), ("C", "colormap.bmp")):
        size = Image.open(os.path.join(folder, picture)).size
        assert [str(v) for v in size] == [bound[name + "W"], bound[name + "H"]]
    assert reshaped == [(300, 300), (320, 200)]
    # Each rate is the frames drawn since the last one over the time they
    # took, the first counted from the first frame. The program reads its
    # clock inside a frame, so between the frame's clear and its flush.
    begun, done, table, shown, since, rates = run["clears"], run["frames"], p.glyphs(), "", 0, 0
    assert len(begun) >= len(frames) and len(done) >= len(frames)
    for number, (_, text_calls) in enumerate(frames):
        text = p.read_text(text_calls, table)
        if text != shown:
            rate = float(re.fullmatch(r"FPS = (\d+\.\d\d)", text).group(1))
            count = number - since
            lowest, highest = (count / (done[number] - begun[since]) * 1000,
                               count / (begun[number] - done[since]) * 1000)
            assert lowest - 0.01 <= rate <= highest + 0.01, (text, lowest, highest)
            shown, since, rates = text, number, rates + 1
    assert rates >= 3, "fewer rates than intervals"


def test_a_frame_matches_mesa_at_the_same_angles_with_the_same_text(recording):
    run, folder, (frame, count) = recording
    assert frame.size == (300, 300)
    p.held_to_mesa(folder, frame, count, run["calls"])


# GLUT's -geometry in the address: a larger window, and one whose rows are
# not a multiple of four bytes.
@pytest.mark.parametrize("size", [(640, 480), (333, 251)])
def test_frames_at_other_sizes_match_mesa(browser, tmp_path, size):
    folder = p.recorded_site(str(tmp_path))
    with serve(folder) as url:
        browser.go(url + "?geometry=%dx%d" % size)
        p.running(browser)
        p.grab_and_hold(browser, folder, size)


def test_scene_with_the_rate_in_green_at_the_bottom_right(browser, site):
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        shot = browser.wait_for(lambda: p.green(s := browser.element_shot("program")) and s, "the rate text")
        assert browser.js("return window.orvane.lines") == []
    assert shot.size == (300, 300)
    xs, ys = zip(*p.green(shot))
    assert min(xs) > 100 and max(xs) < 300 and min(ys) > 250, "the rate is not at the bottom right"
    # The ring in front of the sunset: the centre is neither sky nor sea.
    assert len(set(shot.crop((100, 100, 200, 200)).getdata())) > 500


def escape(browser):
    browser.keys(b.ESCAPE)


def choose(role, name, data):
    return lambda browser, folder: p.choose(browser, folder, role, name, data)


def dropped(role, name, data):
    return lambda browser, folder: p.drop(browser, role, name, data)


PNG = b"\x89PNG\r\n\x1a\n" + bytes(64)
# A bitmap no browser opens, so the page gives it to the program unconverted.
NEGATIVE_WIDTH = b"BM" + bytes(8) + (54).to_bytes(4, "little") + (40).to_bytes(4, "little") + \
    (-2).to_bytes(4, "little", signed=True) + (2).to_bytes(4, "little") + (1).to_bytes(2, "little") + \
    (8).to_bytes(2, "little") + bytes(24 + 1024 + 8)


# What a person does after the page has started, how the box is dismissed,
# and the line given on standard error (None: the sample sunset is missing
# from the page's folder).
@pytest.mark.parametrize("act,dismiss,reason", [
    (None, p.click_ok, "sunset.bmp: cannot open: No such file or directory"),
    (choose("sunset", "photo.png", PNG), escape,
     "sunset.bmp: not a Windows bitmap (it starts with the PNG signature)"),
    (dropped("colormap", "negative.bmp", NEGATIVE_WIDTH), p.click_ok, "colormap.bmp: negative width -2"),
    (dropped("sunset", "<b>empty</b>.bmp", b""), p.click_ok, "sunset.bmp: empty file"),
])
def test_a_refused_picture_gives_the_reason_the_box_and_status_1(browser, site, tmp_path, act, dismiss,
                                                                 reason):
    with serve(site(drop=() if act else ("sunset.bmp",))) as url:
        browser.go(url)
        if act:
            p.running(browser)
            act(browser, tmp_path)
            browser.wait("return window.orvane.starts == 2", "the new start")
        assert p.ended(browser, dismiss) == ("refused", [reason + p.POINTER, p.LINE], 1)
        # What the program wrote and the file's name reach the page as text.
        assert p.texts(browser)[2] == f"{reason}{p.POINTER}\n{p.LINE}"
        assert not browser.js("return document.querySelectorAll('#output b, .current b').length")


# Every picture fixture, as the fixture table says the page must treat its
# kind: a bitmap of the loader's kind, or a file no browser opens, reaches
# the program byte for byte and is drawn or refused as the table says; a
# sound bitmap of another depth or a run-length one is converted and drawn.
# The largest is an 8-bit bitmap of 4096 pixels a side, chosen (16 MB).
@chromium_only
def test_every_fixture_reaches_the_program_as_its_kind_says(browser, site, tmp_path):
    corpus = str(tmp_path)
    subprocess.run([p.desktop("make_bitmap_corpus"), corpus], check=True, stdout=subprocess.DEVNULL)
    big = os.path.join(corpus, "side_4096.bmp")
    Image.linear_gradient("L").resize((4096, 4096)).save(big)
    fixtures = [line.split() for line in open(os.path.join(corpus, "corpus.tsv"))]
    files = [(name, open(os.path.join(corpus, name), "rb").read(), outcome, kept == "kept")
             for name, outcome, kept in fixtures]
    files += [("noise.jpg", os.urandom(3 << 20), "refused", True), ("no name", b"BM", "refused", True),
              ("side_4096.bmp", open(big, "rb").read(), "accepted", True)]
    with serve(site()) as url:
        browser.go(url)
        # Each as the sunset, the sample colour map staying.
        for number, (name, data, outcome, kept) in enumerate(files):
            if len(data) > 8 << 20:  # chosen from disk rather than carried through base64
                browser.choose("sunset", big)
            else:
                p.drop(browser, "sunset", name, data)
            browser.wait("return window.orvane.starts == arguments[0] && !!window.orvane.program", "the start",
                         number + 2)
            browser.js("window.reached = null; crypto.subtle.digest('SHA-256', window.orvane.program.FS.readFile("
                       "'sunset.bmp')).then((d) => { window.reached = [...new Uint8Array(d)]; })")
            reached = bytes(browser.wait("return window.reached", "the digest of what the program reads"))
            same = reached == hashlib.sha256(data).digest()
            assert same == kept, f"{name}: {'converted' if kept else 'not converted'}"
            assert p.ended(browser, p.click_ok)[0] == (outcome if kept else "accepted"), name
