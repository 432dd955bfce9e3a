"""The running program under valgrind's memcheck: some hundreds of frames,
then the window is closed as a person closes it. No memory error and no leak
may remain once the suppressions (tests/sanitize/valgrind.supp, for what Mesa
and its GL layers own) are applied; those in the program's own code are
counted separately in the output."""

import glob
import os
import unittest
import xml.etree.ElementTree as ElementTree

import hardening as h

FRAMES = 300
SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sanitize",
                            "valgrind.supp")
# Frames in these belong to no one in particular: the allocator, the runtimes.
PASS_THROUGH = ("vgpreload_", "/libc.so", "/libstdc++.so", "/libgcc_s.so", "/libm.so")


class MemcheckTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        h.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE", "Xvfb",
                  "xdotool", "valgrind")
        if h.SANITIZED:
            raise unittest.SkipTest("memcheck and the sanitizers do not mix")

    def test_hundreds_of_frames_without_error_or_leak(self):
        folder = h.scratch_folder(self)
        h.sample_pictures(folder)
        report = os.path.join(folder, "memcheck.xml")
        swaps = os.path.join(folder, "swaps.log")
        command = ["valgrind", "--tool=memcheck", "--leak-check=full",
                   "--show-leak-kinds=definite,indirect,possible",
                   "--errors-for-leak-kinds=definite,indirect,possible",
                   f"--suppressions={SUPPRESSIONS}", "--num-callers=40",
                   "--xml=yes", f"--xml-file={report}", h.PROGRAM]
        # Mesa's driver preloaded stays mapped until the leak check, so its
        # frames carry its name; the swap probe counts frames. llvmpipe
        # without worker threads: memcheck runs one thread at a time anyway.
        driver = sorted(glob.glob("/usr/lib/*/dri/swrast_dri.so"))[:1]
        env = h.preload_env(*driver, os.environ["ORVANE_SWAP_PROBE"],
                            extra={"SWAP_PROBE_LOG": swaps, "LP_NUM_THREADS": "0"})
        with h.VirtualDisplay() as display:
            program = h.Program(display, folder, command=command, extra_env=env)
            self.addCleanup(program.stop)
            window = display.find_window("Orvane", timeout=180)
            # A small window: memcheck makes every pixel expensive.
            display.xdotool("windowsize", window, 48, 48)
            h.wait_until(lambda: count_swaps(swaps) >= FRAMES or not program.running(), 240,
                         f"{FRAMES} frames under memcheck", interval=0.5)
            self.assertTrue(program.running(), program.stderr())
            h.send_close_request(display.name, window)
            status = program.process.wait(timeout=120)

        errors = read_errors(report)
        own = [e for e in errors if e["own"]]
        leaked = sum(e["bytes"] for e in errors if e["kind"].startswith("Leak_"))
        print(f"\nmemcheck: {count_swaps(swaps)} frames, exit status {status}; "
              f"{len(errors)} errors after suppressions ({len(own)} in the program's own "
              f"code), {leaked} bytes leaked; suppressed: {suppressed(report)}")
        self.assertEqual(status, 0, program.stderr())
        self.assertEqual(errors, [], "\n\n".join(e["text"] for e in errors))


def count_swaps(path):
    try:
        with open(path) as f:
            return sum(line.startswith("swap ") for line in f)
    except FileNotFoundError:
        return 0


def read_errors(path):
    program = os.path.realpath(h.PROGRAM)
    errors = []
    for error in ElementTree.parse(path).getroot().iter("error"):
        kind = error.findtext("kind")
        frames = [(f.findtext("obj") or "", f.findtext("fn") or "?", f.findtext("file") or "",
                   f.findtext("line") or "") for f in error.find("stack").iter("frame")]
        first = next((f for f in frames if not any(p in f[0] for p in PASS_THROUGH)), None)
        what = error.find("xwhat")
        text = what.findtext("text") if what is not None else error.findtext("what")
        leaked = int(what.findtext("leakedbytes") or 0) if what is not None else 0
        stack = "\n".join(f"  {fn} ({os.path.basename(obj)} {file}:{line})"
                          for obj, fn, file, line in frames)
        errors.append({"kind": kind, "own": bool(first and first[0] == program),
                       "bytes": leaked, "text": f"{kind}: {text}\n{stack}"})
    return errors


def suppressed(path):
    used = [f"{s.findtext('name')} x{s.findtext('count')}"
            for s in ElementTree.parse(path).getroot().iter("pair")]
    return ", ".join(used) or "nothing"


if __name__ == "__main__":
    unittest.main()
