"""Runs the demo for a few seconds in a private virtual X server (Xvfb) and
saves a screenshot of it.

    headless_run.py --seconds 5 --screenshot shot.png -- ./orvane [GLUT options]
"""

import argparse
import os
import subprocess
import sys
import time

from PIL import ImageGrab


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    display = ":" + os.fdopen(read_end).readline().strip()
    env = dict(os.environ, DISPLAY=display, LIBGL_ALWAYS_SOFTWARE="1")
    try:
        program = subprocess.Popen(args.command, env=env)
        time.sleep(args.seconds)
        shot = ImageGrab.grab(xdisplay=display)
        # The screen is black but for the window (or the warning box).
        shot.crop(shot.getbbox()).save(args.screenshot)
        status = program.poll()
        shown = subprocess.run(["xwininfo", "-name", "Orvane"], env=env,
                               capture_output=True).returncode == 0
        program.terminate()
        program.wait()
    finally:
        server.terminate()
        server.wait()
    if status is not None or not shown:
        print(f"The demo window did not appear; screen saved to {args.screenshot}",
              file=sys.stderr)
        return 1
    print(f"Ran for {args.seconds:g} s; screenshot saved to {args.screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
