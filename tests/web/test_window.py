"""The page's window as a person uses it: its size from GLUT's -geometry in
the address, the corner dragged, a new device pixel ratio, full screen and
back, Close and Start, a browser without WebGL 2, and a system that asks for
reduced motion. Every size change reaches the program as a drawing buffer of
the window's CSS size times the device pixel ratio."""

import os
import time

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

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


def drag(browser, dx, dy):
    """Drags the window's corner by (dx, dy) in two moves; the sizes the
    fields showed while it moved, and the window's sizes afterwards."""
    browser.js("window.shown = []; document.getElementById('grip').addEventListener('pointermove', () =>"
               "  requestAnimationFrame(() => shown.push(document.getElementById('width').value)))")
    grip = browser.driver.find_element(By.ID, "grip")
    ActionChains(browser.driver).click_and_hold(grip).move_by_offset(dx // 2, dy // 2).pause(0.2) \
        .move_by_offset(dx - dx // 2, dy - dy // 2).pause(0.2).release().perform()
    return browser.js("return shown"), browser.js(SIZES)


@chromium_only
def test_dragging_the_corner_and_a_new_pixel_ratio_reshape_the_window(browser, site):
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        # The fields show the size while the corner moves.
        shown, sizes = drag(browser, 100, -60)
        assert "350" in shown and sizes == [400, 240] * 3
        assert drag(browser, -100, 60)[1] == [300, 300] * 3
        frames = p.frames(browser)
        # A new ratio (zoom, another screen): the same CSS size, twice the pixels.
        browser.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": b.WINDOW[0], "height": b.WINDOW[1], "deviceScaleFactor": 2, "mobile": False})
        browser.wait(f"return {p.INSIDE}.document.getElementById('canvas').width == 600", "the new buffer")
        assert browser.js(SIZES) == [300, 300, 600, 600, 300, 300]
        assert p.texts(browser)[0] == "Running." and p.frames(browser) > frames
        browser.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


@chromium_only
def test_full_screen_and_back(browser, site):
    with serve(site()) as url:
        browser.go(url + "?geometry=320x240")
        p.running(browser)
        browser.click("fullscreen")
        screen = browser.wait("return document.fullscreenElement?.id == 'window' && [innerWidth, innerHeight]",
                              "full screen")
        browser.wait(f"return {p.INSIDE}.document.getElementById('canvas').width == arguments[0]", "the screen's size",
                     screen[0])
        assert browser.js(SIZES)[:4] == [*screen, *screen]
        # What the browser does on Escape, which headless Chromium leaves to its window.
        browser.js("document.exitFullscreen()")
        browser.wait("return !document.fullscreenElement", "the end of full screen")
        browser.wait(f"return {p.INSIDE}.document.getElementById('canvas').width == 320", "the size it had")
        assert browser.js(SIZES) == [320, 240] * 3 and p.texts(browser)[0] == "Running."


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
