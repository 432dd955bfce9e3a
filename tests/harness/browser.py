"""The browser build's page in Debian's three browser engines, each behind
the same few operations (`Browser`): Chromium through Selenium, Firefox ESR
through WebDriver BiDi, WebKitGTK's MiniBrowser through Selenium. Firefox
and WebKit draw WebGL on an X display, so they get a private Xvfb.

`make_site` assembles a site from the build's parts (web/assemble_site.py)
with a hook first in its page, so that every engine gets the same one, served
(`serve` puts a folder on a free port of 127.0.0.1) or opened from disk: in
every frame of the page it notes when each frame begins and ends (the
program's one glFlush a frame reaches WebGL's flush, its glClear WebGL's
clear) and, when asked through `orvaneGrab = {frame: N}`, reads the pixels of
frame N before they are shown. Used by the browser tests and the
benchmarks."""

import base64
import contextlib
import functools
import http.server
import io
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest.mock

import websocket
from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import assemble_site
import orvane_harness as h

ENGINES = ("chromium", "firefox", "webkit")
ESCAPE, TAB, ENTER, SPACE, BACKSPACE, END = Keys.ESCAPE, Keys.TAB, Keys.ENTER, Keys.SPACE, Keys.BACKSPACE, Keys.END
ARROW_RIGHT, ARROW_DOWN = Keys.ARROW_RIGHT, Keys.ARROW_DOWN
WINDOW = (800, 900)  # the browser's own window, in CSS pixels

HOOK = """<script>
"use strict";
(() => {
  const hook = (win) => {
    if (!win || win.orvaneFrames || !win.WebGL2RenderingContext) return;
    win.orvaneFrames = [];
    win.orvaneClears = [];
    const prototype = win.WebGL2RenderingContext.prototype, clear = prototype.clear, flush = prototype.flush;
    prototype.clear = function (mask) {
      win.orvaneClears.push(win.performance.now());
      return clear.call(this, mask);
    };
    prototype.flush = function () {
      win.orvaneFrames.push(win.performance.now());
      const grab = win.orvaneGrab;
      if (grab && !grab.pixels && win.orvaneFrames.length >= grab.frame) {
        const w = this.drawingBufferWidth, h = this.drawingBufferHeight, p = new Uint8Array(w * h * 4);
        this.readPixels(0, 0, w, h, this.RGBA, this.UNSIGNED_BYTE, p);
        let text = "";
        for (let i = 0; i < p.length; i += 8192) text += String.fromCharCode(...p.subarray(i, i + 8192));
        Object.assign(grab, {width: w, height: h, pixels: btoa(text), calls: (win.orvaneGlCalls || []).length});
      }
      return flush.call(this);
    };
  };
  hook(window);
  // A frame's document is hooked when it has loaded, before the scripts the
  // page adds to it then.
  new MutationObserver(() => {
    for (const frame of document.querySelectorAll("iframe")) {
      if (frame.orvaneHooked) continue;
      frame.orvaneHooked = true;
      frame.addEventListener("load", () => hook(frame.contentWindow));
    }
  }).observe(document, {childList: true, subtree: true});
})();
</script>"""


def make_site(folder, program=None, edit=None):
    """The site assembled into `folder` from the build's parts
    (ORVANE_SITE_PARTS) with the hook first in its page: the program's
    orvane.js and .wasm from `program`'s folder if given, and edit(parts)
    applied to the parts before. The pictures it carries lie beside it, for
    Mesa's frames of them."""
    with tempfile.TemporaryDirectory() as parts:
        shutil.copytree(os.environ["ORVANE_SITE_PARTS"], parts, dirs_exist_ok=True)
        for name in ("orvane.js", "orvane.wasm") if program else ():
            shutil.copy(os.path.join(program, name), parts)
        if edit:
            edit(parts)
        with open(os.path.join(parts, "index.html"), "r+") as f:
            page = f.read().replace("<head>", "<head>" + HOOK, 1)
            f.seek(0)
            f.write(page)
        assemble_site.assemble(parts, folder)
        for name in assemble_site.SAMPLES:
            if os.path.exists(os.path.join(parts, name)):
                shutil.copy(os.path.join(parts, name), folder)
    return folder


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@contextlib.contextmanager
def serve(folder):
    """The folder on a free port of 127.0.0.1; yields its address."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/"
    finally:
        server.shutdown()
        server.server_close()


class Browser:
    """What a test does with a page, the same in every engine: go(url);
    js(body, *args), a function body run in the page (its arguments in
    `arguments`), its value back through JSON; click(element_id); drag(element_id,
    dx, dy), pressed on the element's middle, moved by (dx, dy) in two halves,
    released; keys(*keys), each a character or a selenium Keys value, pressed
    on what has the focus;
    choose(input_id, path), a file chosen with a file input; screenshot(), the
    viewport in device pixels. Each engine's class below gives them."""

    def wait(self, body, what, *args, timeout=60):
        """The value of `body` once it is true."""
        return self.wait_for(lambda: self.js(body, *args), what, timeout)

    def wait_for(self, condition, what, timeout=60):
        return h.wait_until(condition, what, timeout, 0.1)

    def element_shot(self, element_id):
        """An element's box cut from a screenshot."""
        shot = self.screenshot()
        box = self.js("const r = document.getElementById(arguments[0]).getBoundingClientRect(),"
                      " s = devicePixelRatio; return [r.left * s, r.top * s, r.right * s, r.bottom * s]",
                      element_id)
        return shot.crop(tuple(round(v) for v in box))


class SeleniumBrowser(Browser):
    def __init__(self, engine, driver):
        self.engine, self.driver = engine, driver

    def go(self, url):
        self.driver.get(url)

    def js(self, body, *args):
        return self.driver.execute_script(body, *args)

    def click(self, element_id):
        self.driver.find_element(By.ID, element_id).click()

    def drag(self, element_id, dx, dy):
        ActionChains(self.driver).click_and_hold(self.driver.find_element(By.ID, element_id)) \
            .move_by_offset(dx // 2, dy // 2).pause(0.2).move_by_offset(dx - dx // 2, dy - dy // 2).pause(0.2) \
            .release().perform()

    def keys(self, *keys):
        ActionChains(self.driver).send_keys(*keys).perform()

    def choose(self, input_id, path):
        self.driver.find_element(By.ID, input_id).send_keys(path)

    def screenshot(self):
        return Image.open(io.BytesIO(self.driver.get_screenshot_as_png())).convert("RGB")


class FirefoxBrowser(Browser):
    """Firefox ESR driven over WebDriver BiDi, which it speaks itself."""

    engine = "firefox"

    def __init__(self, url):
        self.socket = websocket.create_connection(url, timeout=120, suppress_origin=True)
        self.last = 0
        self.call("session.new", capabilities={})
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": WINDOW[0], "height": WINDOW[1]})

    def call(self, method, **params):
        self.last += 1
        self.socket.send(json.dumps({"id": self.last, "method": method, "params": params}))
        while True:
            answer = json.loads(self.socket.recv())
            if answer.get("id") == self.last:
                if answer.get("type") == "error":
                    raise RuntimeError(f"{method}: {answer.get('error')}: {answer.get('message')}")
                return answer["result"]

    def close(self):
        with contextlib.suppress(Exception):
            self.call("session.end")
        self.socket.close()

    def go(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def evaluate(self, declaration, args=(), ownership="none"):
        result = self.call("script.callFunction", functionDeclaration=declaration, awaitPromise=False,
                           target={"context": self.context}, resultOwnership=ownership,
                           arguments=[{"type": "string", "value": json.dumps(a)} for a in args])
        if result["type"] == "exception":
            details = result["exceptionDetails"]
            raise RuntimeError(f"{details['text']}\n{declaration}")
        return result["result"]

    def js(self, body, *args):
        declaration = ("function (...json) { const value = (function () {" + body + "\n})"
                       ".apply(this, json.map((a) => JSON.parse(a)));"
                       " return JSON.stringify(value === undefined ? null : value); }")
        return json.loads(self.evaluate(declaration, args)["value"])

    def element(self, element_id):
        node = self.evaluate("(id) => document.getElementById(JSON.parse(id))", (element_id,), "root")
        return {"sharedId": node["sharedId"]}

    def act(self, *sources):
        self.call("input.performActions", context=self.context, actions=list(sources))

    def click(self, element_id, moves=()):
        """Pressed on the element's middle, `moves` (pointer actions) made while held, released."""
        self.act({"type": "pointer", "id": "mouse", "actions": [
            {"type": "pointerMove", "x": 0, "y": 0, "origin": {"type": "element", "element": self.element(element_id)}},
            {"type": "pointerDown", "button": 0}, *moves, {"type": "pointerUp", "button": 0}]})

    def drag(self, element_id, dx, dy):
        pause = {"type": "pause", "duration": 200}
        self.click(element_id, [{"type": "pointerMove", "x": dx // 2, "y": dy // 2, "origin": "pointer"}, pause,
                                {"type": "pointerMove", "x": dx - dx // 2, "y": dy - dy // 2, "origin": "pointer"}, pause])

    def keys(self, *keys):
        presses = [action for key in "".join(keys) for action in
                   ({"type": "keyDown", "value": key}, {"type": "keyUp", "value": key})]
        self.act({"type": "key", "id": "keyboard", "actions": presses})

    def choose(self, input_id, path):
        self.call("input.setFiles", context=self.context, element=self.element(input_id), files=[path])

    def screenshot(self):
        data = self.call("browsingContext.captureScreenshot", context=self.context)["data"]
        return Image.open(io.BytesIO(base64.b64decode(data))).convert("RGB")


@contextlib.contextmanager
def chromium(scale=1, webgl=True, reduced_motion=False):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    flags = ["--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-first-run", f"--window-size={WINDOW[0]},{WINDOW[1]}", f"--user-data-dir={profile}",
             f"--force-device-scale-factor={scale}"]
    flags += [] if webgl else ["--disable-3d-apis"]
    flags += ["--force-prefers-reduced-motion"] if reduced_motion else []
    for flag in flags:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=ChromeService("/usr/bin/chromedriver"), options=options)
    try:
        yield SeleniumBrowser("chromium", driver)
    finally:
        driver.quit()
        shutil.rmtree(profile, True)


@contextlib.contextmanager
def firefox(scale=1, webgl=True, reduced_motion=False):
    profile = tempfile.mkdtemp(prefix="orvane-firefox-")
    prefs = {"layout.css.devPixelsPerPx": f'"{scale}"', "webgl.disabled": str(not webgl).lower(),
             "ui.prefersReducedMotion": int(reduced_motion), "browser.shell.checkDefaultBrowser": "false",
             "datareporting.policy.dataSubmissionEnabled": "false", "app.update.disabledForTesting": "true"}
    with open(os.path.join(profile, "user.js"), "w") as f:
        f.writelines(f'user_pref("{k}", {v});\n' for k, v in prefs.items())
    with h.Display() as display:
        process = subprocess.Popen(
            ["firefox-esr", "--headless", "--no-remote", "--profile", profile, "--remote-debugging-port", "0",
             "about:blank"],
            env=display.env(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        browser = None
        try:
            url = h.wait_until(lambda: (m := re.search(r"WebDriver BiDi listening on (ws://\S+)",
                                                       process.stderr.readline())) and m.group(1),
                               "Firefox's WebDriver BiDi address")
            threading.Thread(target=process.stderr.read, daemon=True).start()  # keep it flowing
            browser = FirefoxBrowser(url.rstrip("/") + "/session")
            yield browser
        finally:
            if browser:
                browser.close()
            process.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                process.wait(10)
            process.kill()
            process.wait()
            shutil.rmtree(profile, True)


@contextlib.contextmanager
def webkit(scale=1, webgl=True, reduced_motion=False):
    assert scale == 1 and not reduced_motion, "WebKitGTK's MiniBrowser takes neither from outside"
    options = webdriver.WebKitGTKOptions()
    options.binary_location = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
    options.add_argument("--automation")
    options.add_argument(f"--enable-webgl={str(webgl).lower()}")
    with h.Display(*WINDOW) as display:
        # Selenium 4.8's WebKitGTK takes no service: the driver gets the display from here.
        with unittest.mock.patch.dict(os.environ, DISPLAY=display.name):
            driver = webdriver.WebKitGTK(executable_path="/usr/bin/WebKitWebDriver", options=options)
        try:
            driver.set_window_rect(0, 0, *WINDOW)
            yield SeleniumBrowser("webkit", driver)
        finally:
            driver.quit()


def open_browser(engine, **settings):
    """A context manager giving a Browser of that engine: scale (the device
    pixel ratio), webgl, reduced_motion."""
    return {"chromium": chromium, "firefox": firefox, "webkit": webkit}[engine](**settings)
