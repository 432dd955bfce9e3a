"""Shared pieces of the hardening tests: the program started in a private
Xvfb with the frame probe (tests/hardening/frame_probe.cpp) preloaded, and
the probe's log read back.

Paths come from the test's environment, set by tests/hardening/CMakeLists.txt.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

_here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(_here, "..", "render"))
sys.path.insert(0, os.environ.get("ORVANE_TOOLS_DIR", os.path.join(_here, "..", "..", "tools")))
from xharness import VirtualDisplay  # noqa: E402,F401  (re-exported)
from orvane_run import (  # noqa: E402,F401  (re-exported)
    require, send_close_request, send_configure_notify, wait_until)

PROGRAM = os.environ.get("ORVANE_TEST_BIN")
SAMPLE_TOOL = os.environ.get("ORVANE_SAMPLE_TOOL")
CORPUS_TOOL = os.environ.get("ORVANE_CORPUS_TOOL")
FRAME_PROBE = os.environ.get("ORVANE_FRAME_PROBE")
# Set in sanitizer builds (ORVANE_SANITIZE=ON).
SANITIZED = os.environ.get("ORVANE_SANITIZED") == "1"

START_TIMEOUT = 60.0 if SANITIZED else 30.0
EXIT_TIMEOUT = 30.0


class Frame:
    """One line of the frame probe's log."""

    __slots__ = ("number", "time", "own_allocs", "library_allocs", "window", "viewport",
                 "projection", "angles")

    def __init__(self, fields):
        self.number = int(fields[0])
        self.time = float(fields[1])
        self.own_allocs = int(fields[2])
        self.library_allocs = int(fields[3])
        self.window = (int(fields[4]), int(fields[5]))
        self.viewport = tuple(int(v) for v in fields[6:10])
        self.projection = (float(fields[10]), float(fields[11]))
        self.angles = (float(fields[12]), float(fields[13]))

    def aspect(self):
        """The aspect ratio the projection was made for (gluPerspective: f/aspect, f)."""
        return self.projection[1] / self.projection[0]

    def __repr__(self):
        return (f"Frame({self.number}, window={self.window}, viewport={self.viewport}, "
                f"aspect={self.aspect():.4f})")


def read_frames(path):
    """(frames, own allocation sites) from a frame probe log."""
    frames, sites = [], []
    try:
        with open(path) as f:
            for line in f:
                if not line.endswith("\n"):
                    break  # still being written
                fields = line.split()
                if fields[0] == "frame":
                    frames.append(Frame(fields[1:]))
                elif fields[0] == "own-site":
                    sites.append((int(fields[1]), int(fields[2], 16)))
    except FileNotFoundError:
        pass
    return frames, sites


def sample_pictures(folder):
    subprocess.run([SAMPLE_TOOL, folder], check=True, stdout=subprocess.DEVNULL)


def preload_env(*libraries, extra=None):
    """Environment additions that preload `libraries` after whatever is
    already preloaded (the sanitizer runs keep Mesa's driver there)."""
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), *libraries]))
    env = {"LD_PRELOAD": preload}
    env.update(extra or {})
    return env


class Program:
    """The program started in `folder` on `display` with the frame probe
    (unless `extra_env` preloads something else); killed on exit if still
    running. Standard error goes to folder/stderr.txt."""

    def __init__(self, display, folder, command=None, extra_env=None):
        self.display = display
        self.folder = folder
        self.log = os.path.join(folder, "frames.log")
        self.stderr_path = os.path.join(folder, "stderr.txt")
        env = {"FRAME_PROBE_LOG": self.log, **preload_env(FRAME_PROBE), **(extra_env or {})}
        self._stderr = open(self.stderr_path, "w")
        self.process = display.start(command or [PROGRAM], cwd=folder, extra_env=env,
                                     stdout=subprocess.DEVNULL, stderr=self._stderr)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self._stderr.close()

    def running(self):
        return self.process.poll() is None

    def stderr(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def frames(self):
        return read_frames(self.log)[0]

    def wait_for_frames(self, count, timeout=START_TIMEOUT):
        """Frames once at least `count` were presented; fails early if the
        program stops."""
        def enough():
            if not self.running():
                raise AssertionError(f"the program stopped with status {self.process.poll()} "
                                     f"before {count} frames:\n{self.stderr()}")
            frames = self.frames()
            return frames if len(frames) >= count else None
        return wait_until(enough, timeout, f"{count} frames")

    def wait_for_more_frames(self, count, timeout=START_TIMEOUT):
        return self.wait_for_frames(len(self.frames()) + count, timeout)

    def close(self, window):
        """Closes the window as a window manager's close button does; the exit status."""
        send_close_request(self.display.name, window)
        return self.process.wait(timeout=EXIT_TIMEOUT)


def scratch_folder(test):
    folder = tempfile.mkdtemp(prefix="orvane-hardening-")
    test.addCleanup(shutil.rmtree, folder, True)
    return folder
