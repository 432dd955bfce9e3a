"""Every picture of the fixture table through the real program, as the
sunset or as the colour map in turn: a picture the loader accepts gives
frames and a normal close, one it refuses gives the box and status 1. Never
a crash, a hang or (in the sanitizer build) a report."""

import os
import shutil
import unittest

import orvane_harness as h


class HostilePicturesTest(unittest.TestCase):

    def test_every_fixture_draws_or_is_refused(self):
        folder = h.scratch_folder(self, corpus=True)
        sound = {name: open(os.path.join(folder, name), "rb").read()
                 for name in ("sunset.bmp", "colormap.bmp")}
        with open(os.path.join(folder, "corpus", "corpus.tsv")) as table:
            fixtures = [line.split() for line in table]
        with h.Display() as display:
            for number, (name, outcome) in enumerate(fixtures):
                role = ("sunset.bmp", "colormap.bmp")[number % 2]
                for picture, data in sound.items():
                    open(os.path.join(folder, picture), "wb").write(data)
                shutil.copy(os.path.join(folder, "corpus", name), os.path.join(folder, role))
                with self.subTest(name, role=role), h.Program(display, folder) as program:
                    window = program.window("Orvane" if outcome == "accepted" else "Error!")
                    if outcome == "accepted":
                        program.wait_frames(3)
                        self.assertEqual(0, program.close(window), program.stderr())
                    else:
                        display.xdotool("windowfocus", "--sync", window, "key", "Return")
                        self.assertEqual(1, program.process.wait(timeout=h.TIMEOUT))


if __name__ == "__main__":
    unittest.main()
