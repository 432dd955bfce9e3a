"""The GL calls the program makes, recorded with apitrace: set-up, the first
reshape and every frame, call by call and in order."""

import unittest

from PIL import Image

import orvane_run as orvane


def setUpModule():
    orvane.require("ORVANE_TEST_BIN", "ORVANE_SAMPLE_TOOL", "ORVANE_SWAP_PROBE", "apitrace")


RING_VERTICES = 25 * 20 * 4

# The rate text's place in a frame: GLUT strokes each character as line
# strips and moves on by its width (see read_stroke_text).
STROKE_TEXT = "<the rate text, stroked by GLUT>"

# Stroke-font units to pixels at the program's text size 24.
SCALE = 24 * 0.006562541015881349
# Every character of GLUT's monospaced roman font is this wide.
MONO_WIDTH = 104.76


def expected_set_up(sunset, colormap, ring, sunset_size, colormap_size):
    def texture(name, size):
        return [
            f"glGenTextures(n = 1, textures = &{name})",
            f"glBindTexture(target = GL_TEXTURE_2D, texture = {name})",
            f"glTexImage2D(target = GL_TEXTURE_2D, level = 0, internalformat = GL_RGB, "
            f"width = {size[0]}, height = {size[1]}, border = 0, format = GL_RGB, "
            f"type = GL_UNSIGNED_BYTE, pixels = *)",
            "glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_WRAP_S, param = GL_REPEAT)",
            "glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_WRAP_T, param = GL_REPEAT)",
            "glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_MAG_FILTER, "
            "param = GL_LINEAR)",
            "glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_MIN_FILTER, "
            "param = GL_LINEAR)",
        ]
    return [
        "glPixelStorei(pname = GL_UNPACK_ALIGNMENT, param = 1)",
        *texture(sunset, sunset_size),
        *texture(colormap, colormap_size),
        "glTexEnvi(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_MODULATE)",
        "glEnable(cap = GL_TEXTURE_2D)",
        "glHint(target = GL_PERSPECTIVE_CORRECTION_HINT, mode = GL_NICEST)",
        "glEnable(cap = GL_DEPTH_TEST)",
        "glEnable(cap = GL_CULL_FACE)",
        "glGenLists(range = 1)",
        f"glNewList(list = {ring}, mode = GL_COMPILE)",
        "glBegin(mode = GL_QUADS)",
        *["glTexCoord2d(s = *, t = *)",
          "glNormal3d(nx = *, ny = *, nz = *)",
          "glVertex3d(x = *, y = *, z = *)"] * RING_VERTICES,
        "glEnd()",
        "glEndList()",
    ]


def expected_frame(sunset, colormap, ring, width, height):
    return [
        # Clear.
        "glClearColor(red = 0, green = 0, blue = 0, alpha = 0)",
        "glClear(mask = GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT)",
        # The sunset over the whole viewport, without depth.
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glLoadIdentity()",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glOrtho(left = -1, right = 1, bottom = -1, top = 1, zNear = -1, zFar = 1)",
        "glDisable(cap = GL_DEPTH_TEST)",
        f"glBindTexture(target = GL_TEXTURE_2D, texture = {sunset})",
        "glTexEnvi(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_REPLACE)",
        "glBegin(mode = GL_QUADS)",
        "glTexCoord2d(s = 0, t = 0)", "glVertex2d(x = -1, y = -1)",
        "glTexCoord2d(s = 1, t = 0)", "glVertex2d(x = 1, y = -1)",
        "glTexCoord2d(s = 1, t = 1)", "glVertex2d(x = 1, y = 1)",
        "glTexCoord2d(s = 0, t = 1)", "glVertex2d(x = -1, y = 1)",
        "glEnd()",
        "glPopMatrix()",
        # The ring reflecting the sunset.
        "glEnable(cap = GL_TEXTURE_GEN_S)",
        "glEnable(cap = GL_TEXTURE_GEN_T)",
        "glTexGeni(coord = GL_S, pname = GL_TEXTURE_GEN_MODE, param = GL_SPHERE_MAP)",
        "glTexGeni(coord = GL_T, pname = GL_TEXTURE_GEN_MODE, param = GL_SPHERE_MAP)",
        "glDepthFunc(func = GL_LESS)",
        "glEnable(cap = GL_DEPTH_TEST)",
        "glEnable(cap = GL_CULL_FACE)",
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glLoadIdentity()",
        "glTranslated(x = 0, y = 0, z = -8)",
        "glRotated(angle = *, x = 0, y = 1, z = 0)",  # angleY
        "glRotated(angle = *, x = 1, y = 0, z = 0)",  # angleX
        f"glCallList(list = {ring})",
        # The colour map at half strength over it.
        "glDisable(cap = GL_TEXTURE_GEN_S)",
        "glDisable(cap = GL_TEXTURE_GEN_T)",
        "glDepthFunc(func = GL_LEQUAL)",
        f"glBindTexture(target = GL_TEXTURE_2D, texture = {colormap})",
        "glTexEnvi(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_MODULATE)",
        "glColor4d(red = 1, green = 1, blue = 1, alpha = 0.5)",
        "glBlendFunc(sfactor = GL_SRC_ALPHA, dfactor = GL_ONE_MINUS_SRC_ALPHA)",
        "glEnable(cap = GL_BLEND)",
        f"glCallList(list = {ring})",
        "glDisable(cap = GL_BLEND)",
        # The rate text in window pixels.
        "glPushAttrib(mask = GL_ENABLE_BIT)",
        "glDisable(cap = GL_LIGHTING)",
        "glDisable(cap = GL_BLEND)",
        "glDisable(cap = GL_DEPTH_TEST)",
        "glDisable(cap = GL_TEXTURE_2D)",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPushMatrix()",
        "glLoadIdentity()",
        f"glOrtho(left = 0, right = {width}, bottom = 0, top = {height}, zNear = 0, zFar = 1)",
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glColor3d(red = 0, green = 1, blue = 0)",
        "glTranslated(x = *, y = *, z = 0)",  # checked by value
        "glScalef(x = *, y = *, z = *)",  # checked by value
        STROKE_TEXT,
        "glPopMatrix()",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPopMatrix()",
        "glPopAttrib()",
        "glFlush()",
        "glFlush()",  # freeglut's glutSwapBuffers flushes too
        "glXSwapBuffers(dpy = *, drawable = *)",
    ]


class StrokeText:
    """One frame's stroked text: per character its line strips and advance."""

    def __init__(self):
        self.characters = []  # [(strips, advance)]

    @property
    def advances(self):
        return [advance for _, advance in self.characters]

    def key(self):
        return tuple(self.characters)


def read_stroke_text(calls, at):
    """Reads GLUT's stroked characters from calls[at:]; returns (text, next index)."""
    text, strips = StrokeText(), []
    while at < len(calls):
        call = calls[at]
        if call.name == "glBegin" and call.arg("mode") == "GL_LINE_STRIP":
            end = at + 1
            while end < len(calls) and calls[end].name == "glVertex2f":
                end += 1
            if end == len(calls) or calls[end].name != "glEnd" or end == at + 1:
                break
            strips.append(tuple(c.text() for c in calls[at + 1:end]))
            at = end + 1
        elif call.name == "glTranslatef" and call.arg("y") == "0" and call.arg("z") == "0":
            text.characters.append((tuple(strips), call.number_arg("x")))
            strips = []
            at += 1
        else:
            break
    if strips:
        raise AssertionError(f"line strips without a character advance before call {calls[at]}")
    return text, at


class CallOrderTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.workdir = orvane.WorkDir()
        with orvane.VirtualDisplay() as display:
            with orvane.Run(display, cls.workdir, trace=True, probe=True) as run:
                window = run.window()
                cls.size = display.window_geometry(window)[2:]
                # Well into the second second, so frames with and without
                # the rate text are both recorded.
                orvane.wait_until(lambda: any(s.text for s in run.swaps()), orvane.START_TIMEOUT,
                                  "the first frame with the rate text")
                shown = len(run.swaps())
                run.wait_for_swaps(shown + 20)
                cls.exit_status = run.close(window)
        cls.calls = orvane.read_trace(run.trace_path)
        cls.chunks, cls.tail = orvane.split_at_swaps(cls.calls)
        with Image.open(cls.workdir.file("sunset.bmp")) as sunset, \
                Image.open(cls.workdir.file("colormap.bmp")) as colormap:
            cls.picture_sizes = sunset.size, colormap.size

    @classmethod
    def tearDownClass(cls):
        cls.workdir.cleanup()

    def check_sequence(self, what, expected, calls, at=0):
        """Matches calls[at:] against `expected`; returns (index after it,
        [StrokeText for each STROKE_TEXT])."""
        texts = []
        for step, pattern in enumerate(expected):
            if pattern == STROKE_TEXT:
                text, at = read_stroke_text(calls, at)
                texts.append(text)
                continue
            if at >= len(calls):
                self.fail(f"{what}: ends before step {step}, {pattern}")
            if not orvane.matches(pattern, calls[at]):
                context = "\n".join(f"    {c}" for c in calls[max(0, at - 3):at + 3])
                self.fail(f"{what}, step {step}: expected\n    {pattern}\ngot\n"
                          f"    {calls[at]}\namong\n{context}")
            at += 1
        return at, texts

    def names(self):
        generated = [c for c in self.calls if c.name == "glGenTextures"]
        lists = [c for c in self.calls if c.name == "glGenLists"]
        self.assertEqual(2, len(generated), "two textures, made once")
        self.assertEqual(1, len(lists), "one display list, made once")
        sunset, colormap = (c.arg("textures").lstrip("&") for c in generated)
        ring = lists[0].result
        self.assertNotIn("0", (sunset, colormap, ring))
        self.assertNotEqual(sunset, colormap)
        return sunset, colormap, ring

    def set_up_and_reshape(self):
        """Set-up and the first reshape, which come before the first frame."""
        first = self.chunks[0]
        starts = [i for i, c in enumerate(first) if c.name == "glClearColor"]
        self.assertTrue(starts, "no frame recorded")
        return first[:starts[0]]

    def frames(self):
        """Every frame's calls, the first one without the set-up before it."""
        first = self.chunks[0]
        start = len(self.set_up_and_reshape())
        return [first[start:]] + self.chunks[1:]

    def test_recording_is_whole(self):
        self.assertEqual(0, self.exit_status, "closing the window ends the program normally")
        self.assertGreater(len(self.chunks), 20, "too few frames recorded")
        self.assertEqual([], [c.text() for c in self.tail], "calls after the last frame")

    def test_set_up_in_order(self):
        sunset, colormap, ring = self.names()
        calls = self.set_up_and_reshape()
        expected = expected_set_up(sunset, colormap, ring, *self.picture_sizes)
        at, _ = self.check_sequence("set-up", expected, calls)
        self.assertEqual(len(calls) - len(orvane.reshape_calls(*self.size)), at,
                         "set-up is followed by the first reshape and nothing else")

        # The list's vertices: each one half a unit out along its normal from
        # the ring's centre line, a circle of radius 2 in the XZ plane.
        begin = next(i for i, c in enumerate(calls) if c.name == "glBegin")
        ring_calls = calls[begin + 1:at - 2]
        first = [c.text() for c in ring_calls[:3]]
        self.assertEqual(["glTexCoord2d(s = 0, t = 0)", "glNormal3d(nx = 1, ny = 0, nz = 0)",
                          "glVertex3d(x = 2.5, y = 0, z = 0)"], first)
        for k in range(0, len(ring_calls), 3):
            s, t = (ring_calls[k].number_arg(a) for a in ("s", "t"))
            n = [ring_calls[k + 1].number_arg(a) for a in ("nx", "ny", "nz")]
            v = [ring_calls[k + 2].number_arg(a) for a in ("x", "y", "z")]
            centre = [v[i] - 0.5 * n[i] for i in range(3)]
            with self.subTest(vertex=k // 3):
                self.assertTrue(0 <= s <= 5 and 0 <= t <= 1, (s, t))
                self.assertAlmostEqual(1.0, sum(x * x for x in n), places=9)
                self.assertAlmostEqual(0.0, centre[1], places=9)
                self.assertAlmostEqual(2.0, (centre[0] ** 2 + centre[2] ** 2) ** 0.5, places=9)

    def test_first_reshape_sets_viewport_and_projection(self):
        width, height = self.size
        calls = self.set_up_and_reshape()
        reshape = calls[-len(orvane.reshape_calls(width, height)):]
        self.check_sequence("reshape", orvane.reshape_calls(width, height), reshape)
        matrix = orvane.numbers(reshape[-1].arg("m"))
        for got, want in zip(matrix, orvane.perspective(45.0, width / height, 1.0, 20.0)):
            self.assertTrue(orvane.close_to(got, want), f"{matrix}")

    def test_every_frame_in_order(self):
        sunset, colormap, ring = self.names()
        width, height = self.size
        expected = expected_frame(sunset, colormap, ring, width, height)
        for number, frame in enumerate(self.frames()):
            at, _ = self.check_sequence(f"frame {number}", expected, frame)
            self.assertEqual(len(frame), at, f"frame {number} has calls after its swap")

    def frame_values(self):
        """Per frame: (angleY, angleX, text translation, text scale, StrokeText)."""
        sunset, colormap, ring = self.names()
        expected = expected_frame(sunset, colormap, ring, *self.size)
        values = []
        for frame in self.frames():
            _, (text,) = self.check_sequence("frame", expected, frame)
            rotations = [c for c in frame if c.name == "glRotated"]
            translation = next(c for c in frame if c.name == "glTranslated" and c.arg("z") == "0")
            scale = next(c for c in frame if c.name == "glScalef")
            values.append((rotations[0].number_arg("angle"), rotations[1].number_arg("angle"),
                           (translation.number_arg("x"), translation.number_arg("y")),
                           [scale.number_arg(a) for a in ("x", "y", "z")], text))
        return values

    def test_angles_advance_by_one_step_per_idle_frame(self):
        # Each idle call adds exactly 0.5 and 0.2 degrees, never wrapped; a
        # frame the window system asks for repeats the angles.
        steps = 0
        angle_x = angle_y = 0.0
        for number, (got_y, got_x, *_rest) in enumerate(self.frame_values()):
            if not (orvane.close_to(got_x, angle_x) and orvane.close_to(got_y, angle_y)):
                steps += 1
                angle_x += 0.5
                angle_y += 0.2
            self.assertTrue(orvane.close_to(got_x, angle_x) and orvane.close_to(got_y, angle_y),
                            f"frame {number}: angles ({got_x}, {got_y}), expected "
                            f"({angle_x}, {angle_y}) or one step less")
        self.assertGreater(steps, len(self.chunks) - 5, "most frames come from idle calls")

    def test_rate_text_placement_and_font(self):
        width, _ = self.size
        values = self.frame_values()
        texts = [text for *_, text in values]
        self.assertEqual(0, len(texts[0].characters), "the first frame has no rate yet")
        shown = [t for t in texts if t.characters]
        self.assertTrue(shown, "no frame with the rate text")
        prefix = shown[0].characters[:6]  # "FPS = "
        for number, (_, _, (x, y), scale, text) in enumerate(values):
            with self.subTest(frame=number):
                for factor in scale:
                    self.assertAlmostEqual(SCALE, factor, places=6)
                # The width measured in the monospaced font ends at the right
                # edge; the baseline is 120 font units up.
                length = round(len(text.characters) * MONO_WIDTH)
                self.assertTrue(orvane.close_to(width - length * SCALE, x), x)
                self.assertTrue(orvane.close_to(120 * SCALE, y), y)
                if text.characters:
                    self.assertEqual(prefix, text.characters[:6], "the fixed prefix changed")
                    # Drawn in the proportional font: narrower characters.
                    self.assertLess(sum(text.advances), length - 1)
        # The text changes only when a new rate is ready, about once a second.
        changes = sum(1 for a, b in zip(texts, texts[1:]) if a.key() != b.key())
        self.assertLessEqual(changes, 4)


if __name__ == "__main__":
    unittest.main()
