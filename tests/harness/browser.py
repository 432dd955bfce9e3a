"""The browser build's page, served on 127.0.0.1 and opened in Debian's
Chromium, headless, drawing WebGL 2 with SwiftShader. Every page gets a hook
that notes each frame's time (the program's one glFlush a frame reaches
WebGL's flush) and, when asked through `orvaneGrab = {frame: N}`, reads the
pixels of frame N before it is shown. Used by the browser tests and the
benchmarks."""

import contextlib
import functools
import http.server
import shutil
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

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
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/"
    finally:
        server.shutdown()
        server.server_close()


@contextlib.contextmanager
def chromium():
    """A driven Chromium with a profile of its own and the hook in every page."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    for flag in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--no-first-run", "--window-size=800,900", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": HOOK})
        yield driver
    finally:
        driver.quit()
        shutil.rmtree(profile, True)
