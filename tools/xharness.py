"""Runs programs in a private virtual X server (Xvfb) and looks at the screen.

Shared by the headless demo run and the tests that drive the real program.
"""

import os
import subprocess
import time

from PIL import ImageGrab


class VirtualDisplay:
    """A private Xvfb on a free display number, stopped on exit."""

    def __init__(self, width=1024, height=768):
        self.size = (width, height)
        self.name = None
        self._server = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self._server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            self._server.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *exc):
        self._server.terminate()
        try:
            self._server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self._server.kill()
            self._server.wait()

    def env(self, extra=None):
        env = dict(os.environ, DISPLAY=self.name)
        # Mesa's software renderer, whatever the machine has.
        env["LIBGL_ALWAYS_SOFTWARE"] = "1"
        env.pop("XAUTHORITY", None)
        env.update(extra or {})
        return env

    def start(self, command, cwd=None, extra_env=None, **kwargs):
        return subprocess.Popen(command, cwd=cwd, env=self.env(extra_env), **kwargs)

    def xdotool(self, *args, timeout=20):
        """Runs xdotool on this display and returns its output lines."""
        out = subprocess.run(["xdotool", *map(str, args)], env=self.env(), check=True,
                             capture_output=True, text=True, timeout=timeout).stdout
        return out.split()

    def find_window(self, name, timeout=20.0):
        """The id of the visible window titled exactly `name`, waiting for it."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = subprocess.run(
                ["xdotool", "search", "--onlyvisible", "--name", f"^{name}$"],
                env=self.env(), capture_output=True, text=True).stdout.split()
            if found:
                return found[0]
            time.sleep(0.1)
        raise TimeoutError(f"no window named {name!r} within {timeout} s")

    def window_geometry(self, window):
        """(x, y, width, height) of a window, from xdotool."""
        values = {}
        for line in subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                                   env=self.env(), check=True, capture_output=True,
                                   text=True).stdout.splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def screenshot(self, window=None):
        """The whole screen, or one window's area of it, as an RGB PIL image."""
        image = ImageGrab.grab(xdisplay=self.name).convert("RGB")
        if window is None:
            return image
        x, y, w, h = self.window_geometry(window)
        # Exactly the window's area: a window placed partly off the screen
        # (GLUT's default position is -1, -1) keeps its pixels where they
        # belong, the missing ones black.
        return image.crop((x, y, x + w, y + h))
