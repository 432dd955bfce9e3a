"""Runs the real program in a private Xvfb and watches it from outside: the
probe's log, screenshots, apitrace recordings, the files it opens, X events.
A Windows build (ORVANE_BIN ends in .exe) runs under Wine, without the probe.

Used by the program tests, the soak run and the benchmarks. Paths come from
the environment (CTest sets them; bench/run too).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import Xlib.display
import Xlib.protocol.event
from PIL import ImageGrab

PROGRAM = os.environ.get("ORVANE_BIN")
PROBE = os.environ.get("ORVANE_PROBE")
PICTURES = os.environ.get("ORVANE_PICTURES")  # where sunset.bmp and colormap.bmp are
CORPUS_TOOL = os.environ.get("ORVANE_CORPUS_TOOL")
SANITIZED = os.environ.get("ORVANE_SANITIZED") == "1"
WINDOWS = (PROGRAM or "").endswith(".exe")
TIMEOUT = 90.0 if WINDOWS else 60.0 if SANITIZED else 30.0
# Wine without the .NET and HTML engines it would offer to install, and
# without its menu builder, which would copy Windows shortcuts into the
# desktop's menu.
WINE_DLLS = "mscoree,mshtml=;winemenubuilder.exe=d"

def wait_until(condition, what, timeout=TIMEOUT, interval=0.05):
    """Polls `condition` until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)
    return result


def tool(path):
    """How to run one of the build's tools; a Windows build's run under Wine."""
    return ["wine", path] if path.endswith(".exe") else [path]


def scratch_folder(corpus=False):
    """A fresh folder with the sample pictures (and the fixture corpus in
    corpus/); the caller removes it."""
    folder = tempfile.mkdtemp(prefix="orvane-test-")
    for name in ("sunset.bmp", "colormap.bmp"):
        shutil.copy(os.path.join(PICTURES, name), folder)
    if corpus:
        os.mkdir(os.path.join(folder, "corpus"))
        subprocess.run(tool(CORPUS_TOOL) + [os.path.join(folder, "corpus")], check=True)
    return folder


class Display:
    """A private Xvfb on a free display number."""

    def __init__(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.name = ":" + pipe.readline().strip()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait()

    def env(self, extra=None):
        env = dict(os.environ, DISPLAY=self.name, LIBGL_ALWAYS_SOFTWARE="1")
        env.pop("XAUTHORITY", None)
        return {**env, **(extra or {})}

    def xdotool(self, *args, timeout=60):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env(), check=True,
                              capture_output=True, text=True, timeout=timeout).stdout.split()

    def windows(self):
        """{name: id} of the visible windows that have a name."""
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=self.env(),
                             capture_output=True, text=True).stdout.split()
        return {name: i for i in ids if (name := subprocess.run(["xdotool", "getwindowname", i], env=self.env(),
                                                                capture_output=True, text=True).stdout.strip())}

    def find_window(self, name, timeout=TIMEOUT):
        return wait_until(lambda: self.windows().get(name), f"a window named {name!r}", timeout, 0.1)

    def geometry(self, window):
        """(x, y, width, height) of a window."""
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in out)
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def screenshot(self, window):
        image = ImageGrab.grab(xdisplay=self.name).convert("RGB")
        # Exactly the window's area, also where it hangs off the screen.
        x, y, w, h = self.geometry(window)
        return image.crop((x, y, x + w, y + h))

    def icons(self, window):
        """{(width, height): [ARGB pixel, ...]} of a window's icons (_NET_WM_ICON)."""
        display = Xlib.display.Display(self.name)
        prop = display.create_resource_object("window", int(window)).get_full_property(
            display.intern_atom("_NET_WM_ICON"), Xlib.X.AnyPropertyType)
        display.close()
        values, icons = list(prop.value) if prop else [], {}
        while values:
            width, height = values[:2]
            icons[(width, height)], values = values[2:2 + width * height], values[2 + width * height:]
        return icons

    def send(self, window, event, mask=0):
        """Sends an X event, made by event(display, window), to a window."""
        display = Xlib.display.Display(self.name)
        target = display.create_resource_object("window", int(window))
        target.send_event(event(display, target), event_mask=mask)
        display.sync()
        display.close()

    def close_request(self, window):
        """WM_DELETE_WINDOW, what a window manager's close button sends."""
        self.send(window, lambda d, w: Xlib.protocol.event.ClientMessage(
            window=w, client_type=d.intern_atom("WM_PROTOCOLS"),
            data=(32, [d.intern_atom("WM_DELETE_WINDOW"), 0, 0, 0, 0])))

    def configure_notify(self, window, width, height):
        """A window manager telling the window its size; unlike X, it may say 0."""
        self.send(window, lambda d, w: Xlib.protocol.event.ConfigureNotify(
            event=w, window=w, x=0, y=0, width=width, height=height, border_width=0,
            above_sibling=0, override=False), Xlib.X.StructureNotifyMask)


class Frame:
    """One frame line of the probe's log."""

    def __init__(self, f):
        self.time, self.own_allocs, self.library_allocs = float(f[1]), int(f[2]), int(f[3])


class Log:
    """The probe's log read back: frames, and reshapes (time, size)."""

    def __init__(self, path):
        self.frames, self.reshapes = [], []
        with open(path, errors="replace") as f:
            for line in f:
                if not line.endswith("\n"):
                    break  # still being written
                fields = line.split()
                if fields[0] == "frame":
                    self.frames.append(Frame(fields))
                elif fields[0] == "reshape":
                    self.reshapes.append((float(fields[1]), (int(fields[2]), int(fields[3]))))


class Program:
    """The program started in `folder` on `display`, with the probe; killed
    when the test ends if still running.

    trace: record its GL calls with apitrace; watch: note the files opened
    in `folder`; argv: GLUT options (under Wine, cmd's words, such as a
    redirection); command: another program (an .exe runs under Wine; a bare
    name is looked up in `folder`); terminal: its standard streams on a
    terminal, which under Wine gives it a console, read back as its
    standard output; records: the folder for the run's logs, if not `folder`.
    """

    def __init__(self, display, folder, trace=False, watch=False, argv=(), command=None,
                 env=None, probe=True, terminal=False, records=None):
        self.display, self.folder = display, folder
        records = records or folder
        self.log_path = os.path.join(records, "probe.log")
        self.trace_path = os.path.join(records, "orvane.trace")
        self.stderr_path = os.path.join(records, "stderr.txt")
        self.stdout_path = os.path.join(records, "stdout.txt")
        open(self.log_path, "w").close()
        command = command or [PROGRAM]
        self.wine = command[0].endswith(".exe")
        if self.wine:
            # A Wine server left by a tool started without a display would
            # serve these windows too; freeglut takes DISPLAY for a Windows
            # device name, so it is hidden from that side.
            subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
            # cmd by its path: a bare name goes through start.exe and the
            # shell, one more process whose failures say nothing on stderr.
            exe = ("Z:" if os.path.isabs(command[0]) else "") + command[0].replace("/", "\\")
            command = ["wine", "C:\\windows\\system32\\cmd.exe", "/c",
                       " ".join(["set DISPLAY=&&", exe, *argv])]
            argv, env, probe = (), {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": WINE_DLLS, **(env or {})}, False
        env = dict(env or {})
        preload = [os.environ.get("LD_PRELOAD", ""), env.pop("LD_PRELOAD", ""), PROBE if probe else ""]
        extra = {"ORVANE_PROBE_LOG": self.log_path, **env}
        if trace:
            preload += glob.glob("/usr/lib/*/apitrace/wrappers/glxtrace.so")[:1]
            extra["TRACE_FILE"] = self.trace_path
        extra["LD_PRELOAD"] = " ".join(filter(None, preload))
        # Sanitizer builds: the preloaded libraries come before the runtime.
        asan = [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]
        extra["ASAN_OPTIONS"] = ":".join(filter(None, asan))
        self.watcher = None
        if watch:  # by whatever process opens them (Wine's server, under Wine)
            self.watcher = subprocess.Popen(["inotifywait", "-m", "-e", "open", "--format", "%f", folder],
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            wait_until(lambda: "established" in self.watcher.stderr.readline(), "inotifywait")
        self.stderr_file = open(self.stderr_path, "w")
        self.stdout_file = open(self.stdout_path, "w")
        streams = {"stdout": self.stdout_file, "stderr": self.stderr_file}
        self.terminal = None
        if terminal:
            self.terminal, side = os.openpty()
            streams = {"stdin": side, "stdout": side, "stderr": side}
        self.started = time.monotonic()
        self.process = subprocess.Popen(command + list(argv), cwd=folder, env=display.env(extra),
                                        start_new_session=True, **streams)
        if terminal:
            os.close(side)
            # Read as it comes, so that a full terminal never stops the program.
            self.reader = threading.Thread(target=self.read_terminal)
            self.reader.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        if self.process.poll() is None:  # with what it started (a launcher's program)
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        if self.wine:  # the program outlives its launcher
            subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        if self.terminal is not None:
            self.reader.join(TIMEOUT)
            os.close(self.terminal)
            self.terminal = None
        if self.watcher and self.watcher.poll() is None:
            self.watcher.kill()
            self.watcher.communicate()
        self.stderr_file.close()
        self.stdout_file.close()

    def read_terminal(self):
        while True:
            try:
                data = os.read(self.terminal, 4096)
            except OSError:  # every process that held the terminal has ended
                return
            if not data:
                return
            self.stdout_file.write(data.decode(errors="replace"))
            self.stdout_file.flush()

    def running(self):
        return self.process.poll() is None

    def stderr(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def stopped(self):
        """Why a program that should still run did not: its status and all it wrote."""
        with open(self.stdout_path, errors="replace") as f:
            out = f.read()
        return (f"stopped with status {self.process.poll()} after {time.monotonic() - self.started:.1f} s;"
                f" standard error: {self.stderr()!r}, standard output: {out!r}")

    def log(self):
        return Log(self.log_path)

    def frames(self):
        return self.log().frames

    def wait_frames(self, count, timeout=TIMEOUT):
        """The frames, once `count` more than now have been presented."""
        want = len(self.frames()) + count

        def enough():
            if not self.running():
                raise AssertionError(self.stopped())
            frames = self.frames()
            return frames if len(frames) >= want else None
        return wait_until(enough, f"{count} frames", timeout)

    def window(self, name="Orvane", timeout=TIMEOUT):
        return self.display.find_window(name, timeout)

    def close(self, window, timeout=TIMEOUT):
        """Closes the window as a window manager does; the exit status."""
        self.display.close_request(window)
        return self.process.wait(timeout=timeout)

    def opened_files(self):
        """The names of the files opened in the folder so far (watch=True)."""
        time.sleep(0.2)  # events still on their way
        self.watcher.terminate()
        return self.watcher.communicate()[0].split()

    def gl_calls(self):
        """The program's calls from the apitrace recording as apitrace prints
        them ('glViewport(x = 0, ...)', 'glGenLists(range = 1) = 1'), less
        GLX context handling and apitrace's own 'fake' calls; the framebuffer
        configuration GLUT asked for stays."""
        dump = subprocess.run(["apitrace", "dump", "--color=never", self.trace_path],
                              check=True, capture_output=True, text=True).stdout
        calls = []
        for line in dump.splitlines():
            m = re.match(r"^\d+ ((\w+)\(.*?\)(?: = .+?)?)( // fake)?$", line)
            if m and not m.group(3) and (not m.group(2).startswith("glX")
                                         or m.group(2) in ("glXChooseFBConfig", "glXSwapBuffers")):
                calls.append(m.group(1))
        return calls
