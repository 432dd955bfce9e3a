"""Common fixtures for the tests that drive the real program.

Each test gets a private Xvfb, a fresh working directory with pictures, and
runs the program there, optionally under an apitrace recording, the swap
probe (tools/swap_probe.cpp) or strace. Paths come from the test's
environment, set by tests/render/CMakeLists.txt.
"""

import contextlib
import ctypes
import ctypes.util
import glob
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.environ.get("ORVANE_TOOLS_DIR",
                                  os.path.join(os.path.dirname(__file__), "..", "..", "tools")))
from PIL import Image  # noqa: E402
from xharness import VirtualDisplay  # noqa: E402,F401  (re-exported for the tests)

PROGRAM = os.environ.get("ORVANE_TEST_BIN")
SAMPLE_TOOL = os.environ.get("ORVANE_SAMPLE_TOOL")
CORPUS_TOOL = os.environ.get("ORVANE_CORPUS_TOOL")
SWAP_PROBE = os.environ.get("ORVANE_SWAP_PROBE")

# Generous: the machines that run these are shared and slow.
START_TIMEOUT = 30.0
EXIT_TIMEOUT = 20.0


def require(*names):
    """Checks, before a test module runs, the built files (environment
    variables named ORVANE_*) and the commands it needs."""
    for name in names:
        if name.startswith("ORVANE_"):
            path = os.environ.get(name)
            if path is None:
                raise unittest.SkipTest(f"{name} is not set: run these tests through ctest")
            if not os.path.exists(path):
                raise FileNotFoundError(f"{name}: {path} does not exist")
        elif shutil.which(name) is None:
            raise FileNotFoundError(f"{name} is not installed (scripts/setup-deps installs it)")


def wait_until(condition, timeout, what, interval=0.05):
    """Polls `condition` until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class WorkDir:
    """A fresh working directory holding the sample pictures."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="orvane-render-")
        subprocess.run([SAMPLE_TOOL, self.path], check=True)
        self._corpus = None

    def file(self, name):
        return os.path.join(self.path, name)

    def remove(self, name):
        os.remove(self.file(name))

    def put_fixture(self, fixture, as_name):
        """Copies a file of the bitmap corpus (tools/make_bitmap_corpus) in as `as_name`."""
        if self._corpus is None:
            self._corpus = os.path.join(self.path, "corpus")
            os.mkdir(self._corpus)
            subprocess.run([CORPUS_TOOL, self._corpus], check=True)
        shutil.copyfile(os.path.join(self._corpus, fixture), self.file(as_name))

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def apitrace_wrapper():
    found = glob.glob("/usr/lib/*/apitrace/wrappers/glxtrace.so")
    if not found:
        raise FileNotFoundError("apitrace's glxtrace.so is not installed")
    return found[0]


class Run:
    """The program started in `workdir` on `display`; killed on exit if still running.

    trace: record every GL call with apitrace into workdir/orvane.trace.
    probe: log swaps, stroked text and reshapes into workdir/probe.log.
    strace: log the files the program opens into workdir/strace.log.
    Standard error goes to workdir/stderr.txt.
    """

    def __init__(self, display, workdir, trace=False, probe=False, strace=False):
        self.display = display
        self.workdir = workdir
        self.trace_path = workdir.file("orvane.trace") if trace else None
        self.probe_path = workdir.file("probe.log") if probe else None
        self.strace_path = workdir.file("strace.log") if strace else None
        self.stderr_path = workdir.file("stderr.txt")
        # Keep what the environment already preloads (the sanitizer runs keep
        # Mesa's driver there).
        preload = [os.environ["LD_PRELOAD"]] if os.environ.get("LD_PRELOAD") else []
        env = {}
        if probe:
            preload.append(SWAP_PROBE)
            env["SWAP_PROBE_LOG"] = self.probe_path
        if trace:
            preload.append(apitrace_wrapper())
            env["TRACE_FILE"] = self.trace_path
        if preload:
            env["LD_PRELOAD"] = " ".join(preload)
            # Sanitizer builds: the preloaded libraries come before the runtime.
            env["ASAN_OPTIONS"] = ":".join(
                filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        command = [PROGRAM]
        if strace:
            # Sanitizer builds: LeakSanitizer cannot stop the world under a
            # tracer, so the leak check at exit is left to the other runs.
            env["ASAN_OPTIONS"] = ":".join(
                filter(None, [env.get("ASAN_OPTIONS", os.environ.get("ASAN_OPTIONS")),
                              "detect_leaks=0"]))
            command = ["strace", "-f", "-qq", "-e", "trace=open,openat", "-o",
                       self.strace_path] + command
        self._stderr = open(self.stderr_path, "w")
        self.process = display.start(command, cwd=workdir.path, extra_env=env,
                                     stdout=subprocess.DEVNULL, stderr=self._stderr)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        """Kills the program if it still runs."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self._stderr.close()

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout=EXIT_TIMEOUT):
        """The exit status, waiting for it."""
        return self.process.wait(timeout=timeout)

    def stderr(self):
        with open(self.stderr_path) as f:
            return f.read()

    def window(self, name="Orvane"):
        return self.display.find_window(name, timeout=START_TIMEOUT)

    def probe_events(self):
        return read_probe_log(self.probe_path)

    def swaps(self):
        return [e for e in self.probe_events() if e.kind == "swap"]

    def wait_for_swaps(self, count, timeout=START_TIMEOUT):
        return wait_until(lambda: len(self.swaps()) >= count and self.swaps(), timeout,
                          f"{count} frames")

    def close(self, window):
        """Closes the program's window as a window manager's close button does,
        and returns the exit status."""
        send_close_request(self.display.name, window)
        return self.wait()

    def attempted_files(self):
        """Names of every file the program tried to open, successfully or not."""
        with open(self.strace_path) as f:
            return re.findall(r'open(?:at)?\((?:AT_FDCWD, )?"([^"]*)"', f.read())


@contextlib.contextmanager
def session(test, **run_options):
    """Display, working directory and a started program, torn down afterwards.
    Yields (display, workdir, start) where start() starts the program."""
    workdir = WorkDir()
    test.addCleanup(workdir.cleanup)
    with VirtualDisplay() as display:
        runs = []

        def start(**options):
            run = Run(display, workdir, **{**run_options, **options})
            runs.append(run)
            return run
        try:
            yield display, workdir, start
        finally:
            for run in runs:
                run.stop()


# ---------------------------------------------------------------- pictures

class StretchedPicture:
    """The picture as GL_LINEAR, GL_REPEAT texturing stretches it over a
    width x height viewport, texture row 0 (the file's first row) at the bottom."""

    def __init__(self, path, width, height):
        picture = Image.open(path).convert("RGB")
        self.tw, self.th = picture.size
        self.texels = picture.load()  # PIL rows run top down
        self.width, self.height = width, height

    def texel(self, x, y):
        return self.texels[x % self.tw, y % self.th]

    def expected(self, px, py):
        """Colour at window pixel (px, py), py counted from the top."""
        # Pixel centres mapped into the picture, sampled between texel centres.
        u = (px + 0.5) / self.width * self.tw - 0.5
        v = (py + 0.5) / self.height * self.th - 0.5
        x0, y0 = math.floor(u), math.floor(v)
        fx, fy = u - x0, v - y0
        a, b = self.texel(x0, y0), self.texel(x0 + 1, y0)
        c, d = self.texel(x0, y0 + 1), self.texel(x0 + 1, y0 + 1)
        return tuple((a[k] * (1 - fx) + b[k] * fx) * (1 - fy) + (c[k] * (1 - fx) + d[k] * fx) * fy
                     for k in range(3))


def difference(actual, expected):
    return max(abs(a - e) for a, e in zip(actual, expected))


# Linear filtering rounds its weights (llvmpipe comes within one level); a
# picture upside down or shifted by a pixel is off by far more.
PICTURE_TOLERANCE = 4


def corner_differences(shot, picture_path, patch=16):
    """{corner: largest channel difference} between a window's screenshot and
    the picture stretched over it, in a patch x patch square at each corner."""
    width, height = shot.size
    pixels = shot.load()
    picture = StretchedPicture(picture_path, width, height)
    corners = {"top left": (0, 0), "top right": (width - patch, 0),
               "bottom left": (0, height - patch), "bottom right": (width - patch, height - patch)}
    return {name: max(difference(pixels[x, y], picture.expected(x, y))
                      for x in range(x0, x0 + patch) for y in range(y0, y0 + patch))
            for name, (x0, y0) in corners.items()}


# ---------------------------------------------------------------- swap probe

class ProbeEvent:
    def __init__(self, kind, time, text="", size=None):
        self.kind, self.time, self.text, self.size = kind, time, text, size

    def __repr__(self):
        return f"ProbeEvent({self.kind}, {self.time:.6f}, {self.text!r}, {self.size})"


def read_probe_log(path):
    events = []
    if not os.path.exists(path):
        return events
    with open(path) as f:
        for line in f:
            if not line.endswith("\n"):
                break  # still being written
            kind, _, rest = line[:-1].partition(" ")
            if kind == "start":
                events.append(ProbeEvent("start", float(rest)))
            elif kind == "swap":
                stamp, _, text = rest.partition(" ")
                events.append(ProbeEvent("swap", float(stamp), text))
            elif kind == "reshape":
                stamp, width, height = rest.split()
                events.append(ProbeEvent("reshape", float(stamp), size=(int(width), int(height))))
    return events


# ------------------------------------------------------------- X11 messages

class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XConfigureEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("above", ctypes.c_ulong),
                ("override_redirect", ctypes.c_int)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("xconfigure", _XConfigureEvent),
                ("pad", ctypes.c_long * 24)]


_CLIENT_MESSAGE = 33
_CONFIGURE_NOTIFY = 22
_STRUCTURE_NOTIFY_MASK = 1 << 17
_xlib = None


def _x11():
    global _xlib
    if _xlib is None:
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(_XEvent)]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        _xlib = lib
    return _xlib


def _send(display_name, window, mask, fill):
    x11 = _x11()
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise RuntimeError(f"cannot open X display {display_name}")
    try:
        event = _XEvent()
        fill(x11, display, event)
        if not x11.XSendEvent(display, int(window), 0, mask, ctypes.byref(event)):
            raise RuntimeError("XSendEvent failed")
        x11.XSync(display, 0)
    finally:
        x11.XCloseDisplay(display)


def send_close_request(display_name, window):
    """WM_DELETE_WINDOW, what a window manager sends when its close button is clicked."""
    def fill(x11, display, event):
        event.xclient.type = _CLIENT_MESSAGE
        event.xclient.window = int(window)
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    _send(display_name, window, 0, fill)


def send_configure_notify(display_name, window, width, height):
    """A synthetic ConfigureNotify, as a window manager sends to tell a client
    its new size. X itself never makes a window 0 pixels high; this can."""
    def fill(x11, display, event):
        event.xconfigure.type = _CONFIGURE_NOTIFY
        event.xconfigure.event = int(window)
        event.xconfigure.window = int(window)
        event.xconfigure.width = width
        event.xconfigure.height = height
    _send(display_name, window, _STRUCTURE_NOTIFY_MASK, fill)


# ----------------------------------------------------------- GL recordings

class Call:
    """One recorded call: its name, its arguments as printed, its result."""

    __slots__ = ("number", "name", "args", "result")

    def __init__(self, number, name, args, result):
        self.number, self.name, self.args, self.result = number, name, args, result

    def arg(self, name):
        return self.args[name]

    def number_arg(self, name):
        return float(self.args[name])

    def text(self):
        """The call as apitrace prints it, without its number or result."""
        return f"{self.name}({', '.join(f'{k} = {v}' for k, v in self.args.items())})"

    def __repr__(self):
        return f"#{self.number} {self.text()}"


_CALL = re.compile(r"^(\d+) (\w+)\((.*)\)(?: = (.*?))?(?: // (\w+))?$")


def _split_args(text):
    """Splits 'a = 1, m = {1, 2}, p = blob(3)' at the top-level commas."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in "({[":
            depth += 1
        elif c in ")}]":
            depth -= 1
        elif c == "," and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    if text[start:].strip():
        parts.append(text[start:])
    args = {}
    for part in parts:
        key, _, value = part.strip().partition(" = ")
        args[key] = value
    return args


def read_trace(path):
    """The program's own calls from an apitrace recording, in order.

    Left out: the GLX calls of context handling (glXSwapBuffers stays, it ends
    each frame) and the 'fake' calls apitrace adds to make a trace replayable.
    """
    dump = subprocess.run(["apitrace", "dump", "--color=never", path], check=True,
                          capture_output=True, text=True).stdout
    calls = []
    for line in dump.splitlines():
        m = _CALL.match(line)
        if not m:
            continue
        number, name, args, result, note = m.groups()
        if note == "fake":
            continue
        if name.startswith("glX") and name != "glXSwapBuffers":
            continue
        calls.append(Call(int(number), name, _split_args(args), result))
    return calls


def split_at_swaps(calls):
    """([calls up to and including each glXSwapBuffers], calls after the last one)."""
    chunks, current = [], []
    for call in calls:
        current.append(call)
        if call.name == "glXSwapBuffers":
            chunks.append(current)
            current = []
    return chunks, current


_patterns = {}


def matches(pattern, call):
    """Whether `call`, as apitrace prints it, fits `pattern`: the same text,
    where * stands for any one argument value."""
    regex = _patterns.get(pattern)
    if regex is None:
        regex = re.compile("^" + re.escape(pattern).replace(r"\*", ".*?") + "$")
        _patterns[pattern] = regex
    return regex.match(call.text()) is not None


def numbers(text):
    """The numbers of an argument such as '{1, 0, 2.5}'."""
    return [float(v) for v in text.strip("{}").split(",")]


def reshape_calls(width, height):
    """The calls of one reshape to width x height, as patterns for matches()."""
    return [
        f"glViewport(x = 0, y = 0, width = {width}, height = {height})",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glLoadIdentity()",
        "glMultMatrixd(m = *)",  # gluPerspective's matrix: compare with perspective()
    ]


def perspective(fovy, aspect, near, far):
    """The matrix gluPerspective multiplies in, column by column like glMultMatrixd's."""
    f = 1.0 / math.tan(math.radians(fovy) / 2)
    return [f / aspect, 0, 0, 0,
            0, f, 0, 0,
            0, 0, (far + near) / (near - far), -1,
            0, 0, 2 * far * near / (near - far), 0]


def close_to(a, b, relative=1e-12):
    """Equal as far as apitrace's 16 printed digits tell."""
    return abs(a - b) <= relative * max(1.0, abs(a), abs(b))
