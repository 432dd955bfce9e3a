"use strict";
// The program's window. Its CSS size is the person's to set (the corner,
// the fields, full screen, GLUT's -geometry); the drawing buffer is that
// size times the device pixel ratio, and the program gets every change as a
// reshape.

let largestBuffer = null;

// The largest side this browser's WebGL 2 draws, in CSS pixels.
function largestSide() {
  if (largestBuffer === null) {
    // A throwaway context asks.
    const gl = document.createElement("canvas").getContext("webgl2");
    largestBuffer = gl ? Math.min(...gl.getParameter(gl.MAX_VIEWPORT_DIMS), gl.getParameter(gl.MAX_RENDERBUFFER_SIZE))
                       : 16384;
    if (gl) gl.getExtension("WEBGL_lose_context")?.loseContext();
  }
  return Math.max(1, Math.floor(largestBuffer / devicePixelRatio));
}

// Gives the window a size in CSS pixels, within what can be drawn; `asked`,
// the size a person or the program asked for, in words, is said to be
// limited where it is.
function resizeWindow(width, height, asked) {
  const limit = largestSide();
  const fit = (side) => Math.min(Math.max(Math.round(side) || 1, 1), limit);
  const [w, h] = [fit(width), fit(height)];
  if (asked && (w !== width || h !== height)) {
    showNotice(`A window of ${asked} cannot be drawn here; it is ${w} x ${h} CSS pixels, the nearest this browser can draw.`);
  }
  $("window").style.width = w + "px";
  $("window").style.height = h + "px";
  fitBuffer();
}

// The fields a person has typed in since a size last applied: a late
// resize callback must not overwrite what they are typing.
const typedFields = new Set();

// Shows the window's size and hands the program its drawing buffer's.
function fitBuffer() {
  const box = $("window").getBoundingClientRect(), ratio = devicePixelRatio;
  const width = Math.max(1, Math.round(box.width * ratio)), height = Math.max(1, Math.round(box.height * ratio));
  if (!document.fullscreenElement) {
    if (!typedFields.has("width")) $("width").value = Math.round(box.width);
    if (!typedFields.has("height")) $("height").value = Math.round(box.height);
  }
  $("drawn").textContent = ratio === 1 ? "CSS pixels" : `CSS pixels, drawn at ${width} x ${height}`;
  setProgramBufferSize(width, height);
}
new ResizeObserver(fitBuffer).observe($("window"));

// A new device pixel ratio (zoom, another screen) is a new buffer size;
// browsers tell of it by the resolution's media query, some only by a resize.
addEventListener("resize", fitBuffer);
(function watchRatio() {
  matchMedia(`(resolution: ${devicePixelRatio}dppx)`).addEventListener("change", () => {
    fitBuffer();
    watchRatio();
  }, { once: true });
})();

// The corner: dragged with any pointer, or moved 10 CSS pixels a press with
// the arrow keys.
$("grip").addEventListener("pointerdown", (event) => {
  const grip = $("grip"), box = $("window").getBoundingClientRect();
  const [x, y] = [event.clientX - box.width, event.clientY - box.height];
  grip.setPointerCapture(event.pointerId);
  $("window").classList.add("dragging");
  const move = (e) => resizeWindow(e.clientX - x, e.clientY - y);
  grip.addEventListener("pointermove", move);
  grip.addEventListener("lostpointercapture", () => {
    grip.removeEventListener("pointermove", move);
    $("window").classList.remove("dragging");
  }, { once: true });
  event.preventDefault();
});
$("grip").addEventListener("keydown", (event) => {
  const step = { ArrowLeft: [-10, 0], ArrowRight: [10, 0], ArrowUp: [0, -10], ArrowDown: [0, 10] }[event.key];
  if (!step) return;
  event.preventDefault();
  resizeWindow(+$("width").value + step[0], +$("height").value + step[1]);
});

// The fields: a typed size applies when it changes (Return, or leaving it).
for (const id of ["width", "height"]) {
  $(id).addEventListener("input", () => typedFields.add(id));
  $(id).addEventListener("change", () => {
    typedFields.clear();
    const [width, height] = [$("width").valueAsNumber, $("height").valueAsNumber];
    if (Number.isNaN(width) || Number.isNaN(height)) return fitBuffer();  // back to the size it has
    resizeWindow(width, height, `${width} x ${height}`);
    $("window").scrollIntoView({ block: "nearest", inline: "nearest" });
  });
}

// Full screen until Escape. Browsers without full screen for an element (an
// iPhone's) get no button.
$("fullscreen").hidden = !(document.fullscreenEnabled && $("window").requestFullscreen);
$("fullscreen").addEventListener("click", () => {
  $("window").requestFullscreen().catch((error) => showNotice("The browser gives no full screen: " + error.message));
});
