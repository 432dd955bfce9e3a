"""The page for everyone, in each engine: axe-core's audit (the WCAG 2.x A
and AA rules and its best practices) in every state a person can reach, the
page used with the keyboard alone, its focus always visible, and (Chromium)
what a screen reader is told as a picture is converted."""


import pytest

import browser as b
import page as p
from browser import serve
from conftest import ENGINE
from test_convert import picture

def test_no_violation_running_with_the_box_and_ended(browser, site):
    with serve(site(drop=("colormap.bmp",))) as url:
        browser.go(url)
        browser.wait("return window.orvane.state == 'box'", "the box")
        assert p.audit(browser) == [], "the warning dialog open"
        browser.click("warning-ok")
        browser.wait("return window.orvane.state == 'ended'", "the end")
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        # Install offered, as Chromium offers it; the others get the same event here.
        browser.js("dispatchEvent(Object.assign(new Event('beforeinstallprompt'), {prompt: async () => {}}))")
        assert browser.js("return !document.getElementById('install').hidden")
        assert p.audit(browser) == [], "running, Install offered"
        browser.click("close")
        browser.wait("return window.orvane.state == 'ended'", "the end")
        assert p.audit(browser) == [], "ended"
    print(f"{ENGINE}: axe ran {len(p.RULES_RUN)} rules: {' '.join(sorted(p.RULES_RUN))}")


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
        offered = ["install"] if browser.js("return !document.getElementById('install').hidden") else []
        assert order == [*offered, "start", "close", "fullscreen", "width", "height", "grip", "sunset", "colormap",
                         "samples"], order
        browser.keys(b.ENTER)  # the samples again: a new start
        p.running(browser, start=2)
        browser.js("document.getElementById('fullscreen').focus()")
        browser.keys(b.SPACE)
        browser.wait("return document.fullscreenElement?.id == 'window'", "full screen")
        browser.js("document.exitFullscreen()")  # Escape's work, left to the browser's window
        browser.wait("return !document.fullscreenElement", "the page again")
        browser.js("document.getElementById('grip').focus()")
        browser.keys(b.ARROW_RIGHT, b.ARROW_RIGHT, b.ARROW_DOWN)
        browser.wait(f"return {p.INSIDE}.document.getElementById('canvas').width == 320", "the grip's width")
        assert browser.js("return [document.getElementById('width').value, document.getElementById('height').value]") \
            == ["320", "310"]
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


def told(cdp, element_ids):
    """Per element id, what Chromium's accessibility tree, which screen
    readers read, gives of it: its live property and its words."""
    root, backend = cdp("DOM.getDocument", {"depth": 0})["root"]["nodeId"], {}
    for element_id in element_ids:
        node = cdp("DOM.querySelector", {"nodeId": root, "selector": "#" + element_id})["nodeId"]
        backend[cdp("DOM.describeNode", {"nodeId": node})["node"]["backendNodeId"]] = element_id
    nodes = {node["nodeId"]: node for node in cdp("Accessibility.getFullAXTree", {})["nodes"]}

    def words(node):
        if node.get("role", {}).get("value") == "StaticText":
            return node["name"]["value"]
        return "".join(words(nodes[child]) for child in node.get("childIds", []) if child in nodes)
    return {backend[node["backendDOMNodeId"]]: ({v["name"]: v["value"]["value"] for v in node.get("properties", [])}
                                                .get("live"), words(node))
            for node in nodes.values() if node.get("backendDOMNodeId") in backend}


@pytest.mark.skipif(ENGINE != "chromium", reason="read through Chromium's DevTools protocol")
def test_a_screen_reader_is_told_the_status_and_each_conversion(browser, site, tmp_path):
    lines, photo = ("status", "converted-sunset", "converted-colormap"), picture((4000, 3000), "JPEG")
    with serve(site()) as url:
        browser.go(url)
        p.running(browser)
        cdp = browser.driver.execute_cdp_cmd
        cdp("Accessibility.enable", {})
        for role in ("sunset", "colormap"):
            p.choose(browser, tmp_path, role, "big.jpg", photo)
            said = []

            def ended():  # each new wording of the role's line; all three lines live throughout
                now = told(cdp, lines)
                assert [live for live, _ in now.values()] == ["polite"] * 3, now
                if said[-1:] != [now["converted-" + role][1]]:
                    said.append(now["converted-" + role][1])
                return "converted to" in said[-1]
            browser.wait_for(ended, "the conversion's end")
            assert said[-2:] == ["big.jpg: converting…", "big.jpg: a JPEG of 4000x3000, converted to a 256-colour "
                                 f"bitmap of 2048x1536 Download {role}.bmp"], said
        p.running(browser, start=3)
        assert told(cdp, lines)["status"] == ("polite", "Running.")
