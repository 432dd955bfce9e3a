"""Some hundreds of frames under valgrind's memcheck, then the window closed
as a person closes it: no memory error and no leak once valgrind.supp (what
Mesa keeps) is applied."""

import glob
import os
import unittest
import xml.etree.ElementTree as ElementTree

import orvane_harness as h

SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "valgrind.supp")


class MemcheckTest(unittest.TestCase):

    def test_hundreds_of_frames_without_error_or_leak(self):
        if h.SANITIZED:
            self.skipTest("memcheck and the sanitizers do not mix")
        folder = h.scratch_folder(self)
        report = os.path.join(folder, "memcheck.xml")
        # The probe's allocator is valgrind's too; Mesa's driver, preloaded,
        # stays mapped until the leak check, so its frames carry its name.
        valgrind = ["valgrind", "--leak-check=full", "--show-leak-kinds=definite,indirect,possible",
                    "--errors-for-leak-kinds=definite,indirect,possible", "--num-callers=40",
                    "--soname-synonyms=somalloc=*probe.so*", f"--suppressions={SUPPRESSIONS}",
                    "--xml=yes", f"--xml-file={report}"]
        driver = sorted(glob.glob("/usr/lib/*/dri/swrast_dri.so"))[:1]
        env = {"LD_PRELOAD": " ".join(driver), "LP_NUM_THREADS": "0"}
        with h.Display() as display, h.Program(display, folder, wrapper=valgrind, env=env) as program:
            window = display.find_window("Orvane", timeout=180)
            display.xdotool("windowsize", window, 48, 48)  # every pixel costs under memcheck
            program.wait_frames(300, timeout=240)
            status = program.close(window, timeout=180)
        errors = ["\n".join(e.itertext()) for e in ElementTree.parse(report).getroot().iter("error")]
        self.assertEqual(0, status, program.stderr())
        self.assertEqual([], errors)


if __name__ == "__main__":
    unittest.main()
