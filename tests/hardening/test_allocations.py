"""The running program allocates nothing from frame to frame: after start-up,
every frame, the once-a-second rate text included, makes no heap allocation
of the program's own (the frame probe tells those from the allocations that
GLUT, Mesa and X make inside their own calls)."""

import subprocess
import unittest

import hardening as h

WARM_UP_FRAMES = 50
STEADY_SECONDS = 3.0   # three refreshes of the rate text at least


class AllocationsPerFrameTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        h.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_FRAME_PROBE", "Xvfb")
        if h.SANITIZED:
            raise unittest.SkipTest("sanitizer builds bring their own allocator, which the "
                                    "probe cannot count")

    def test_no_allocation_of_its_own_in_steady_state(self):
        folder = h.scratch_folder(self)
        h.sample_pictures(folder)
        with h.VirtualDisplay() as display, h.Program(display, folder) as program:
            first = program.wait_for_frames(WARM_UP_FRAMES + 1)[WARM_UP_FRAMES]
            h.wait_until(lambda: program.frames()[-1].time - first.time > STEADY_SECONDS,
                         h.START_TIMEOUT + STEADY_SECONDS, f"{STEADY_SECONDS} s of frames")
            program.stop()
            frames, sites = h.read_frames(program.log)

        steady = [f for f in frames if f.number >= WARM_UP_FRAMES]
        own = sum(f.own_allocs for f in steady)
        library = sorted(f.library_allocs for f in steady)
        print(f"\n{len(steady)} frames in steady state: {own / len(steady):.3f} allocations "
              f"per frame of the program's own; the libraries' (GLUT, Mesa, X): "
              f"median {library[len(library) // 2]}, most {library[-1]}")
        # Start-up allocates (the pictures, the file streams): the probe sees it.
        self.assertGreater(frames[0].own_allocs, 0, "the probe counted nothing at start-up")
        late = [f"frame {n}: {where(offset)}" for n, offset in sites if n >= WARM_UP_FRAMES]
        self.assertEqual(own, 0, "allocations of the program's own:\n" + "\n".join(late))


def where(offset):
    out = subprocess.run(["addr2line", "-f", "-C", "-e", h.PROGRAM, hex(offset)],
                         capture_output=True, text=True).stdout.split("\n")
    return " at ".join(line for line in out if line)


if __name__ == "__main__":
    unittest.main()
