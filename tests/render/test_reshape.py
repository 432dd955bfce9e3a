"""Resizing: a window shrunk to zero height keeps its viewport and projection;
when it grows again they follow the new size, and the picture still fills it."""

import unittest

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE", "apitrace",
                   "xdotool")


GROWN = (400, 200)
FRAMES_BETWEEN = 10


class ReshapeTest(unittest.TestCase):

    def test_zero_height_then_growing_again(self):
        with orvane.session(self, probe=True, trace=True) as (display, workdir, start):
            run = start()
            window = run.window()
            width, height = display.window_geometry(window)[2:]
            display.xdotool("windowmove", window, 16, 16)
            run.wait_for_swaps(FRAMES_BETWEEN)

            # X never makes a window 0 pixels high (xdotool's "windowsize W 0"
            # leaves the height alone), but a window manager may report it.
            orvane.send_configure_notify(display.name, window, width, 0)
            self.wait_for_reshape(run, (width, 0))
            run.wait_for_swaps(len(run.swaps()) + FRAMES_BETWEEN)

            display.xdotool("windowsize", window, *GROWN)
            self.wait_for_reshape(run, GROWN)
            run.wait_for_swaps(len(run.swaps()) + FRAMES_BETWEEN)
            shot = display.screenshot(window)
            self.assertEqual(0, run.close(window))

        # Which reshapes the program got, and after how many frames.
        reshapes, frames = [], 0
        for event in run.probe_events():
            if event.kind == "swap":
                frames += 1
            elif event.kind == "reshape":
                reshapes.append((frames, event.size))
        self.assertEqual([(width, height), (width, 0), GROWN], [size for _, size in reshapes])

        # Which reshapes reached GL: the calls between one frame and the next.
        calls = orvane.read_trace(run.trace_path)
        chunks, _ = orvane.split_at_swaps(calls)
        issued = []
        for frames, chunk in enumerate(chunks):
            between = chunk[:next(i for i, c in enumerate(chunk) if c.name == "glClearColor")]
            if frames == 0:
                # After set-up, which ends with the ring's display list.
                between = between[next(i for i, c in enumerate(between)
                                       if c.name == "glEndList") + 1:]
            for start in range(0, len(between), 4):
                block = between[start:start + 4]
                viewport = block[0]
                self.assertEqual("glViewport", viewport.name,
                                 f"between frames, outside a reshape: {block}")
                size = (int(viewport.arg("width")), int(viewport.arg("height")))
                self.assertTrue(all(orvane.matches(p, c)
                                    for p, c in zip(orvane.reshape_calls(*size), block)), block)
                issued.append((frames, size, orvane.numbers(block[3].arg("m"))))

        # Every reshape with a height reached GL right away; the zero one not at all.
        self.assertEqual([(frames, size) for frames, size in reshapes if size[1] > 0],
                         [(frames, size) for frames, size, _ in issued])
        for _, (w, h), matrix in issued:
            want = orvane.perspective(45.0, w / h, 1.0, 20.0)
            self.assertTrue(all(orvane.close_to(a, b) for a, b in zip(matrix, want)),
                            f"projection for {w} x {h}: {matrix}")

        # The picture is stretched to the new shape.
        self.assertEqual(GROWN, shot.size)
        for corner, worst in orvane.corner_differences(shot, workdir.file("sunset.bmp")).items():
            self.assertLessEqual(worst, orvane.PICTURE_TOLERANCE,
                                 f"{corner} corner differs from the stretched picture")

    def wait_for_reshape(self, run, size):
        orvane.wait_until(lambda: any(e.kind == "reshape" and e.size == size
                                      for e in run.probe_events()),
                          orvane.START_TIMEOUT, f"a reshape to {size}")


if __name__ == "__main__":
    unittest.main()
