"""The page's window as a person uses it: its size from GLUT's -geometry in
the address; the corner dragged, sizes typed, full screen and back and a new
device pixel ratio while it runs, each drawn as Mesa draws that size; Close
and Start, a browser without WebGL 2, and a system that asks for reduced
motion. Every size change reaches the program as a drawing buffer of the
window's CSS size times the device pixel ratio."""

import os
import time

import pytest

import browser as b
import page as p
from browser import serve
from conftest import ENGINE, chromium_only

SIZES = "const c = window.orvane.frame.contentDocument.getElementById('canvas'), r = " \
        "document.getElementById('window').getBoundingClientRect();" \
        "return [r.width, r.height, c.width, c.height, +document.getElementById('width').value," \
        "        +document.getElementById('height').value]"


# The address, and the window's size then (None: the program ends at once
# with freeglut's complaint), with the page's note.
@chromium_only
@pytest.mark.parametrize("query,size,note", [
    ("", (300, 300), ""),
    ("?geometry=640x480", (640, 480), ""),
    ("?geometry=800x600&geometry=320x200%2B10%2B10&iconic", (320, 200), ""),
    ("?geometry=640", (300, 300), ""),            # one side: not a size
    ("?geometry=<b>9x9</b>", (300, 300), ""),     # malformed, and no markup
    ("?display&geometry=640x480", (300, 300), ""),  # -display takes the next word
    ("?geometry=100000x5", (8192, 5), "A window of 100000 x 5 cannot be drawn here"),
    ("?geometry=0x0", (1, 1), "A window of 0 x 0 cannot be drawn here; it is 1 x 1 CSS pixels"),
    ("?geometry", None, "freeglut (orvane): -geometry parameter must be followed by window geometry settings"),
])
def test_the_address_is_glut_command_line(browser, site, query, size, note):
    with serve(site()) as url:
        browser.go(url + query)
        if size is None:
            browser.wait("return window.orvane.state == 'ended'", "the end")
            assert p.texts(browser) == ["The program ended with status 1. Nothing more is drawn.", "", note]
            return
        p.running(browser)
        assert browser.js(SIZES) == [*size, *size, *size]
        assert p.texts(browser)[1].startswith(note)
        assert not browser.js("return document.querySelectorAll('main b').length")


def resized(browser, sizes):
    """Waits for the window's sizes (as SIZES gives them), then grabs a
    frame drawn at that size."""
    browser.wait_for(lambda: browser.js(SIZES) == sizes, f"the window at {sizes}")
    frame, count = p.grab(browser)
    assert list(frame.size) == sizes[2:4]
    return frame, count


def test_frames_after_each_live_resize_match_mesa(browser, tmp_path):
    """The running window resized each way a person does, a frame after each
    held to Mesa's frame of the new size; the calls fetched once at the end."""
    folder = p.recorded_site(str(tmp_path))
    with serve(folder) as url:
        browser.go(url)
        p.running(browser)
        # The corner; the fields show the size while it moves.
        browser.js("window.shown = []; document.getElementById('grip').addEventListener('pointermove', () =>"
                   "  requestAnimationFrame(() => shown.push(document.getElementById('width').value)))")
        browser.drag("grip", 100, -60)
        grabbed = [resized(browser, [400, 240] * 3)]
        assert "350" in browser.js("return shown")
        # Typed sizes: Return applies them.
        browser.click("width")
        browser.keys(b.END, b.BACKSPACE * 4, "333")
        browser.js("fitBuffer()")  # a resize callback come late, as on a busy machine
        browser.click("height")
        browser.keys(b.END, b.BACKSPACE * 4, "251", b.ENTER)
        grabbed.append(resized(browser, [333, 251] * 3))
        # Headless Firefox refuses full screen: its window is never the active
        # one (document.hasFocus() stays false), and Firefox gives full screen
        # only to the active tab.
        if ENGINE != "firefox":
            # The screen's size once the browser's window has grown to it,
            # which WebKit does after it has said it is full screen.
            browser.js("addEventListener('resize', () => window.grown = document.fullscreenElement && "
                       "[innerWidth, innerHeight])")
            browser.click("fullscreen")
            screen = browser.wait("return window.grown", "full screen")
            grabbed.append(resized(browser, [*screen, *screen, 333, 251]))
            # What the browser does on Escape, which headless Chromium leaves to its window.
            browser.js("document.exitFullscreen()")
            grabbed.append(resized(browser, [333, 251] * 3))
        # A new ratio (zoom, another screen): the same CSS size, twice the pixels.
        if ENGINE == "chromium":
            browser.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": b.WINDOW[0], "height": b.WINDOW[1], "deviceScaleFactor": 2, "mobile": False})
            grabbed.append(resized(browser, [333, 251, 666, 502, 333, 251]))
            browser.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        assert p.texts(browser)[0] == "Running."
        recorded = p.calls(browser)
    for frame, count in grabbed:
        p.held_to_mesa(folder, frame, count, recorded)


def test_close_ends_the_program_and_start_runs_it_again(browser, site):
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        browser.click("close")
        browser.wait("return window.orvane.state == 'ended'", "the end")
        assert browser.js("return window.orvane.status") == 0
        assert p.texts(browser)[0] == "The program ended with status 0. Nothing more is drawn."
        drawn = p.frames(browser)
        assert browser.js("return [document.activeElement.id, document.getElementById('close').disabled]") == \
            ["start", True]
        time.sleep(0.5)
        assert p.frames(browser) == drawn, "drawn after the end"
        browser.click("start")
        p.running(browser, start=2)


@pytest.mark.parametrize("settings,words", [
    ({"webgl": False}, "freeglut (orvane): this browser gives no WebGL 2, which Orvane needs"),
    ({"reduced_motion": True}, None),
])
def test_no_webgl_ends_with_status_1_and_reduced_motion_waits_for_start(site, settings, words):
    if ENGINE == "webkit" and "reduced_motion" in settings:
        pytest.skip("WebKitGTK's MiniBrowser takes no motion setting from outside")
    with b.open_browser(ENGINE, **settings) as browser, serve(site()) as url:
        browser.go(url)
        if words:
            browser.wait("return window.orvane.state == 'ended'", "the end")
            assert p.texts(browser) == ["The program ended with status 1. Nothing more is drawn.", "", words]
            assert p.audit(browser) == []
            return
        browser.wait("return window.orvane.state == 'waiting'", "the page")
        assert p.texts(browser)[0].startswith("Not started, as your system asks for reduced motion.")
        assert browser.js("return window.orvane.starts") == 0
        assert p.audit(browser) == []
        # A picture chosen meanwhile waits for Start too.
        p.drop(browser, "sunset", "mine.bmp", open(os.path.join(os.environ["ORVANE_SITE_PARTS"], "sunset.bmp"), "rb").read())
        browser.wait("return document.getElementById('current-sunset').textContent == 'mine.bmp'", "the picture")
        assert browser.js("return [window.orvane.state, window.orvane.starts]") == ["waiting", 0]
        browser.click("start")
        p.running(browser)
