"""What every browser test starts from: a page served on 127.0.0.1 and
Debian's Chromium, headless, drawing WebGL 2 with SwiftShader, with a hook
in every page that notes each frame (the program's one glFlush a frame
reaches WebGL's flush) and can read a frame's pixels before it is shown."""

import contextlib
import functools
import http.server
import os
import shutil
import tempfile
import threading

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

SITE = os.environ.get("ORVANE_SITE", "")          # the installed page
RECORDED = os.environ.get("ORVANE_RECORDED", "")  # orvane.js and .wasm that record GL calls

HOOK = """
globalThis.orvaneFrames = [];
const flush = WebGL2RenderingContext.prototype.flush;
WebGL2RenderingContext.prototype.flush = function () {
  orvaneFrames.push(performance.now());
  const grab = globalThis.orvaneGrab;
  if (grab && !grab.pixels && orvaneFrames.length >= grab.frame) {
    const w = this.drawingBufferWidth, h = this.drawingBufferHeight, p = new Uint8Array(w * h * 4);
    this.readPixels(0, 0, w, h, this.RGBA, this.UNSIGNED_BYTE, p);
    let text = "";
    for (let i = 0; i < p.length; i += 8192) text += String.fromCharCode(...p.subarray(i, i + 8192));
    Object.assign(grab, {width: w, height: h, pixels: btoa(text), calls: (globalThis.orvaneGlCalls || []).length});
  }
  return flush.call(this);
};
"""


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".wasm": "application/wasm"}

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def serve(folder):
    """The folder on a free port of 127.0.0.1; yields its address."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/"
    finally:
        server.shutdown()
        server.server_close()


@pytest.fixture
def site():
    """A copy of the page to change: site(recorded=False, drop=()) gives its
    folder, with the recording build in place of the plain one if asked and
    the named files left out."""
    folders = []

    def make(recorded=False, drop=()):
        folder = tempfile.mkdtemp(prefix="orvane-site-")
        folders.append(folder)
        shutil.copytree(SITE, folder, dirs_exist_ok=True)
        if recorded:
            for name in ("orvane.js", "orvane.wasm"):
                shutil.copy(os.path.join(RECORDED, name), folder)
        for name in drop:
            os.remove(os.path.join(folder, name))
        return folder
    yield make
    for folder in folders:
        shutil.rmtree(folder, True)


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    for flag in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--no-first-run", "--window-size=800,900", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": HOOK})
    yield driver
    driver.quit()
    shutil.rmtree(profile, True)
