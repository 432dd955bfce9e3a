"use strict";
// Runs the program in the page's window. Each start runs it in a fresh
// frame, so that a restart ends the last run whole: its loop, its GL
// context, its memory. The page is the program's window manager: it keeps
// the window's size (window.js), hands the program its command line from
// the address and its pictures (pictures.js), and shows what it writes, its
// box (dialog.js) and its exit status.
//
// The program's code and wasm come with the page (orvane.js, made by
// web/assemble_site.py), deflated, and are inflated once as it opens: a page
// opened from disk may fetch nothing, and a restart runs the same build
// whatever has been deployed since.
//
// Every hook between the page and the program:
//   from the page, in the settings given to createOrvane (Emscripten's Module):
//     canvas                the frame's canvas, which GLUT draws into
//     wasmBinary            the program's wasm, so that nothing is fetched
//     thisProgram, arguments  argv: "orvane", then the address's query
//     print, printErr       standard output and error, shown under the window
//     preRun                puts the pictures into the program's file system
//     onRuntimeInitialized, onExit, onAbort  the program running, ended, stopped
//   called by the page on the running program:
//     setCanvasSize(w, h)   a new drawing-buffer size: GLUT's reshape
//     _glutCloseWindow()    the window's close box (web/glut/glut_window.cpp)
//   called by the program:
//     placeWindow(w, h)     GLUT's -geometry: the window's first size
//                           (web/glut/glut_window.cpp)
//     warningBox(caption, text)  the "Error!" box; its promise is settled by
//                           OK (app/warning_box_web.cpp)

const $ = (id) => document.getElementById(id);

function bytesFromBase64(text) {
  const binary = atob(text), bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The bytes of what the page carries deflated in base64 (the program, the
// sample pictures).
async function inflate(base64) {
  const stream = new Blob([bytesFromBase64(base64)]).stream().pipeThrough(new DecompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// [code, wasm], or null where orvane.js did not load.
const programParts = typeof ORVANE_PROGRAM === "undefined" ? null : Promise.all([
  inflate(ORVANE_PROGRAM.code).then((bytes) => new TextDecoder().decode(bytes)), inflate(ORVANE_PROGRAM.wasm)]);

// What tests and a curious person can read: every line the program wrote,
// its exit status once it has ended, the number of starts, the frame it
// runs in, and (read-only) the running program's module.
const orvane = window.orvane = { lines: [], status: null, state: "starting", starts: 0, frame: null };
let program = null;  // the running program's module
Object.defineProperty(orvane, "program", { get: () => program });

function setState(state, words) {
  orvane.state = document.body.dataset.state = state;
  $("status").textContent = words;
  $("close").disabled = state !== "running";
}

function showNotice(words) {
  $("notice").textContent = words;
}

function writeOutput(stream, text) {
  orvane.lines.push({ stream, text });
  (stream === "err" ? console.error : console.log)(text);
  const line = document.createElement("span");
  if (stream === "err") line.className = "err";
  line.textContent = text + "\n";
  $("output").append(line);
}

// The address's query is the command line: name=value is "-name value", a
// bare name "-name", in order.
function commandLine() {
  const decode = (text) => { try { return decodeURIComponent(text); } catch { return text; } };
  return location.search.slice(1).split("&").filter(Boolean).flatMap((part) => {
    const at = part.indexOf("=");
    return at < 0 ? ["-" + decode(part)] : ["-" + decode(part.slice(0, at)), decode(part.slice(at + 1))];
  });
}

// A new drawing-buffer size: a reshape for the running program; a starting
// one takes it as its canvas's first size.
function setProgramBufferSize(width, height) {
  const canvas = orvane.frame?.contentDocument?.getElementById("canvas");
  if (!canvas || (canvas.width === width && canvas.height === height)) return;
  if (program) program.setCanvasSize(width, height);
  else if (orvane.state === "starting") [canvas.width, canvas.height] = [width, height];
}

// Starts the program on the pictures pictures.js holds, ending a running one.
function startProgram() {
  const run = ++orvane.starts;
  dropWarningBox();
  orvane.lines = [];
  orvane.status = null;
  program = null;
  $("output").textContent = "";
  showNotice("");
  setState("starting", "Starting…");
  showCurrentPictures();

  if (!programParts) return setState("stopped", "The program stopped: orvane.js could not be loaded");

  const old = $("program");
  const frame = document.createElement("iframe");
  for (const name of ["id", "title", "tabindex"]) frame.setAttribute(name, old.getAttribute(name));
  frame.srcdoc = '<!doctype html><style>html,body{margin:0;overflow:hidden;background:#000}' +
                 'canvas{display:block;width:100vw;height:100vh}</style><canvas id="canvas"></canvas>';
  old.replaceWith(frame);
  orvane.frame = frame;
  const current = () => run === orvane.starts;

  frame.addEventListener("load", async () => {
    const stopped = (what) => {
      if (current() && orvane.status === null) {
        program = null;
        setState("stopped", "The program stopped: " + what);
      }
    };
    let code, wasm;
    try {
      [code, wasm] = await programParts;
    } catch (error) {
      return stopped(String(error));
    }
    if (!current()) return;
    fitBuffer();
    const inside = frame.contentWindow;
    inside.addEventListener("error", (event) => stopped(event.message));
    inside.addEventListener("unhandledrejection", (event) => stopped(String(event.reason)));
    const settings = {
      canvas: inside.document.getElementById("canvas"),
      wasmBinary: wasm,
      thisProgram: "orvane",
      arguments: commandLine(),
      print: (text) => { if (current()) writeOutput("out", text); },
      printErr: (text) => { if (current()) writeOutput("err", text); },
      preRun: [(module) => putPictures(module.FS)],
      onRuntimeInitialized: () => {
        if (!current()) return;
        program = settings;
        setState("running", "Running.");
      },
      placeWindow: (width, height) => {
        if (current()) resizeWindow(width, height, `${width} x ${height}`);
      },
      warningBox: (caption, text) => {
        setState("box", "The program waits until its box is dismissed.");
        return showWarningBox(caption, text);
      },
      onExit: (status) => {
        if (!current()) return;
        program = null;
        orvane.status = status;
        setState("ended", `The program ended with status ${status}. Nothing more is drawn.`);
      },
      onAbort: (what) => stopped(String(what)),
    };
    const script = inside.document.createElement("script");
    script.textContent = code;
    inside.document.body.append(script);  // runs at once
    inside.createOrvane(settings).catch((error) => stopped(String(error)));
  }, { once: true });
}

// The program moves from its first frame on; where the system asks for
// reduced motion, it waits for Start, also while pictures are chosen.
function startUnlessWaiting() {
  if (orvane.state !== "waiting") return startProgram();
  showCurrentPictures();
}
if (matchMedia("(prefers-reduced-motion: reduce)").matches) {
  setState("waiting", "Not started, as your system asks for reduced motion. " +
                      "Start runs the program; its ring turns until Close.");
}

// Close: the window's close box. GLUT ends the program, which throws its
// exit status on its way out.
$("close").addEventListener("click", () => {
  if (!program) return;
  $("start").focus();
  try {
    program._glutCloseWindow();
  } catch (exit) {
    if (exit?.name !== "ExitStatus") throw exit;
  }
});
$("start").addEventListener("click", startProgram);
