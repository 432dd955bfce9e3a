#!/usr/bin/python3
"""A long run of the demo under Xvfb, watched from outside, then a verdict:
resident memory flat after the warm-up, no allocation of the program's own in
any frame after start-up, a new rate text every second or so, and the ring
still turning by 0.5 and 0.2 degrees a frame.

    scripts/build && tests/harness/soak.py [--seconds 600] [--build build]
"""

import argparse
import os
import sys
import time

BUILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--build", default=BUILD)
    parser.add_argument("--slack-kib", type=int, default=1024, help="growth allowed")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    os.environ.update(ORVANE_BIN=f"{build}/orvane", ORVANE_PROBE=f"{build}/tests/libprobe.so",
                      ORVANE_SAMPLE_TOOL=f"{build}/tools/make_sample_pictures")
    import orvane_harness as h  # beside this script; reads the paths above

    folder = h.scratch_folder()
    memory = []
    with h.Display() as display, h.Program(display, folder) as program:
        window = program.window()
        while time.monotonic() - program.started < args.seconds and program.running():
            time.sleep(1.0)
            with open(f"/proc/{program.process.pid}/status") as f:
                memory.append(next(int(l.split()[1]) for l in f if l.startswith("VmRSS")))
        status = program.close(window)
    frames = program.log().frames
    changes = [b.time for a, b in zip(frames, frames[1:]) if a.text != b.text]
    gaps = [b - a for a, b in zip(changes, changes[1:])]
    steps = {(round(b.angles[0] - a.angles[0], 9), round(b.angles[1] - a.angles[1], 9))
             for a, b in zip(frames, frames[1:])}
    warm = memory[min(30, len(memory) - 1)]
    verdicts = {
        f"exit status {status}": status == 0,
        f"memory {warm} KiB after warm-up, {memory[-1]} KiB at the end": memory[-1] - warm <= args.slack_kib,
        f"own allocations after start-up: {sum(f.own_allocs for f in frames[50:])}":
            sum(f.own_allocs for f in frames[50:]) == 0,
        f"{len(changes)} rate texts in {args.seconds:g} s, longest gap {max(gaps, default=0):.2f} s":
            len(changes) >= args.seconds - 3 and max(gaps, default=9) < 1.5,
        f"{len(frames)} frames, angle steps {sorted(steps)}": steps <= {(0.5, 0.2), (0.0, 0.0)},
    }
    for what, good in verdicts.items():
        print(f"{'ok  ' if good else 'FAIL'} {what}")
    return 0 if all(verdicts.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
