"""The page for everyone, in each engine: axe-core's audit (the WCAG 2.x A
and AA rules and its best practices) in every state a person can reach, and
the page used with the keyboard alone, its focus always visible."""

import os

import pytest

import browser as b
import page as p
from browser import serve
from conftest import ENGINE

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


def test_no_violation_running_with_the_box_and_ended(browser, site):
    with serve(site(drop=("colormap.bmp",))) as url:
        browser.go(url)
        browser.wait("return window.orvane.state == 'box'", "the box")
        assert audit(browser) == [], "the warning dialog open"
        browser.click("warning-ok")
        browser.wait("return window.orvane.state == 'ended'", "the end")
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        assert audit(browser) == [], "running"
        browser.click("close")
        browser.wait("return window.orvane.state == 'ended'", "the end")
        assert audit(browser) == [], "ended"
    print(f"{ENGINE}: axe ran {len(RULES_RUN)} rules: {' '.join(sorted(RULES_RUN))}")


@pytest.mark.parametrize("settings", [{"webgl": False}, {"reduced_motion": True}])
def test_no_violation_without_webgl_or_waiting_for_start(site, settings):
    if ENGINE == "webkit" and "reduced_motion" in settings:
        pytest.skip("WebKitGTK's MiniBrowser takes no motion setting from outside")
    with b.open_browser(ENGINE, **settings) as browser, serve(site()) as url:
        browser.go(url)
        browser.wait("return ['ended', 'waiting'].includes(window.orvane.state)", "the page")
        assert audit(browser) == []


def focused(browser):
    """The focused element's id, and whether its focus can be seen."""
    return browser.js("const e = document.activeElement, s = getComputedStyle(e);"
                      "return [e.id || e.tagName, s.outlineStyle != 'none' && parseFloat(s.outlineWidth) >= 2]")


def tab_to(browser, element_id, order):
    """Tabs forward to an element, noting each stop in `order`."""
    for _ in range(20):
        browser.keys(b.TAB)
        stop, seen = focused(browser)
        assert seen, f"the focus on {stop} cannot be seen"
        order.append(stop)
        if stop == element_id:
            return
    raise AssertionError(f"Tab never reached {element_id}: {order}")


# Firefox driven over BiDi never has the system's focus, so its keys move
# the focus but press nothing.
@pytest.mark.skipif(ENGINE == "firefox", reason="headless Firefox's document never has the focus")
def test_every_control_by_keyboard(browser, site):
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        order = []
        tab_to(browser, "samples", order)
        assert order == ["start", "close", "fullscreen", "width", "height", "grip", "sunset", "colormap",
                         "samples"], order
        browser.keys(b.ENTER)  # the samples again: a new start
        p.running(browser, start=2)
        browser.js("document.getElementById('fullscreen').focus()")
        browser.keys(b.SPACE)
        browser.wait("return document.fullscreenElement?.id == 'window'", "full screen")
        browser.js("document.exitFullscreen()")  # Escape's work, left to the browser's window
        browser.wait("return !document.fullscreenElement", "the page again")
        browser.js("document.getElementById('width').focus()")
        browser.keys(b.BACKSPACE * 4, "320", b.ENTER)
        browser.wait("return document.getElementById('window').offsetWidth == 320", "the typed width")
        browser.js("document.getElementById('grip').focus()")
        browser.keys(b.ARROW_RIGHT, b.ARROW_RIGHT, b.ARROW_DOWN)
        browser.wait(f"return {p.INSIDE}.document.getElementById('canvas').width == 340", "the grip's width")
        assert browser.js("return [document.getElementById('width').value, document.getElementById('height').value]") \
            == ["340", "310"]
        browser.js("document.getElementById('close').focus()")
        browser.keys(b.ENTER)
        browser.wait("return window.orvane.state == 'ended'", "the end")
        assert focused(browser)[0] == "start"
        browser.keys(b.SPACE)
        p.running(browser, start=3)
        # The box takes the focus and gives it back.
        browser.js("document.getElementById('samples').focus()")
        p.drop(browser, "sunset", "empty.bmp", b"")
        browser.wait("return window.orvane.state == 'box'", "the box")
        assert focused(browser)[0] == "warning-ok"
        browser.keys(b.ENTER)
        browser.wait("return window.orvane.state == 'ended'", "the end")
        assert focused(browser)[0] == "samples"
