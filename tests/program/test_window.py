"""One run of the program, resized and hidden, with every GL call recorded by
apitrace: set-up, each reshape and each frame against call_order.golden, with
the framebuffer asked for, the ring's shape, its angles and the rate text's place; a projection for every size down
to 1x1 and far beyond the screen, none for a zero height; no allocation of
its own per frame."""

import os
import random
import time

import pytest
from PIL import Image

import gl_golden
import orvane_harness as h

rng = random.Random(7)
SIZES = [(1, 1), (3000, 2000), (1, 700), (700, 1)] + [
    (rng.randint(1, 1200), rng.randint(1, 900)) for _ in range(100)] + [(640, 480)]


@pytest.fixture(scope="module")
def run(display, folder):
    """The exit status, the probe's log and the GL calls of one dragged-about run."""
    def drawn_at(size):
        h.wait_until(lambda: size in [s for _, s in program.log().reshapes], f"a reshape to {size}")
        program.wait_frames(1)

    with h.Program(display, folder, trace=True) as program:
        window = program.window()
        # X never makes a window 0 high, but a window manager may say so.
        display.configure_notify(window, 300, 0)
        h.wait_until(lambda: (300, 0) in [s for _, s in program.log().reshapes], "reshape")
        for size in SIZES[:4]:  # one by one, then the rest in a burst
            display.xdotool("windowsize", window, *size)
            drawn_at(size)
        display.xdotool(*[a for size in SIZES[4:] for a in ("windowsize", window, *size)])
        drawn_at(SIZES[-1])
        display.xdotool("windowunmap", window)
        program.wait_frames(10)
        display.xdotool("windowmap", window)
        h.wait_until(lambda: time.monotonic() - program.started > 4.5, "4.5 s of frames")
        status = program.close(window)
    return status, program.log(), program.gl_calls()


def test_set_up_reshapes_and_frames_follow_the_golden_calls(run, folder):
    status, log, calls = run
    assert status == 0
    bound, reshaped, frames = gl_golden.follow(calls)
    for name, picture in (("S", "sunset.bmp"), ("C", "colormap.bmp")):
        size = Image.open(os.path.join(folder, picture)).size
        assert [str(v) for v in size] == [bound[name + "W"], bound[name + "H"]]
    # Between frames only reshapes, each to a size the window got, the
    # zero-height one left out.
    assert reshaped == [size for _, size in log.reshapes if size[1] > 0]
    assert len(frames) > 40


def test_no_allocation_of_its_own_after_start_up(run):
    if h.SANITIZED:
        pytest.skip("sanitizer builds bring their own allocator")
    frames = run[1].frames
    assert frames[0].own_allocs > 0, "the probe counted nothing"
    assert sum(f.own_allocs for f in frames[50:]) == 0
