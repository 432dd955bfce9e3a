"""Runs the demo for a few seconds in a private Xvfb and saves a screenshot."""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xharness import VirtualDisplay  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--size", default="1024x768", help="virtual screen size")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    width, height = map(int, args.size.split("x"))
    with VirtualDisplay(width, height) as display:
        program = display.start(args.command)
        try:
            window = display.find_window("Orvane", timeout=30)
        except TimeoutError:
            # Most likely the warning box: show it, then let the program end.
            shot = display.screenshot()
            shot.save(args.screenshot)
            print(f"The demo window did not appear; screen saved to {args.screenshot}")
            program.terminate()
            return program.wait() or 1
        time.sleep(args.seconds)
        display.screenshot(window).save(args.screenshot)
        status = program.poll()
        program.terminate()
        program.wait()
    if status is not None:
        print(f"The demo stopped early with status {status}", file=sys.stderr)
        return 1
    print(f"Ran for {args.seconds:g} s; screenshot saved to {args.screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
