"""The program's GL calls against tests/program/call_order.golden, the same
on every platform that records them: on Linux apitrace's dump, in the
browser the GL layer's own recording in the same form. Lines of the golden
data under a "# glx only" comment, up to the next comment, are GLX's and
freeglut's own and are left out for the browser."""

import hashlib
import math
import os
import re

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "program", "call_order.golden")
NAMES = ("SUNSET", "COLORMAP", "RING")  # bound once for the whole run
STROKE = re.compile(r"glBegin\(mode = GL_LINE_STRIP\)|glVertex2f\(.*\)|glEnd\(\)"
                    r"|glTranslatef\(x = (.*), y = 0, z = 0\)")
# GLUT's stroke fonts at the program's text size: 152.38 font units make 24
# pixels; every monospaced character is 104.76 units wide.
SCALE, MONO_WIDTH = 24 / 152.38, 104.76


def read_golden(glx=True):
    blocks, name, skip = {}, None, False
    for line in open(GOLDEN):
        line = line.rstrip("\n")
        if line.startswith("[") and line.endswith("]"):
            name, skip = line[1:-1], False
            blocks[name] = []
        elif line.startswith("#"):
            skip = not glx and line.startswith("# glx only")
        elif name and line and not skip:
            repeat = re.fullmatch(r"(.*) x(\d+)", line)
            blocks[name] += repeat.group(1).split("; ") * int(repeat.group(2)) if repeat else [line]
    return blocks


def match(pattern, call, bound):
    """Whether `call` fits `pattern`; binds the $NAMEs it meets first."""
    regex, seen = "", set()
    for part in re.split(r"(\*|\$[A-Z_]+)", pattern):
        name = part[1:]
        if part == "*":
            regex += ".*?"
        elif not part.startswith("$"):
            regex += re.escape(part)
        elif name in bound:
            regex += re.escape(bound[name])
        else:
            regex += f"(?P={name})" if name in seen else f"(?P<{name}>.*?)"
            seen.add(name)
    m = re.fullmatch(regex, call)
    if m:
        bound.update(m.groupdict())
    return m is not None


def match_block(block, calls, at, bound, what):
    """Matches calls[at:] to a golden block; (next index, the text's calls)."""
    text = []
    for pattern in block:
        if pattern == "<text>":
            while at < len(calls) and STROKE.fullmatch(calls[at]):
                text.append(calls[at])
                at += 1
            continue
        assert at < len(calls) and match(pattern, calls[at], bound), \
            f"{what}: expected\n  {pattern}\ngot\n  " + "\n  ".join(c[:200] for c in calls[max(0, at - 2):at + 3])
        at += 1
    return at, text


def advances(text):
    return [float(m.group(1)) for call in text if (m := STROKE.fullmatch(call)) and m.group(1)]


def ring_digest(calls):
    """sha256 of every corner's texture coordinate, normal and position in
    the ring's list, each to nine decimals, so any printer of the same
    doubles gives the same digest."""
    begin = next(i for i, call in enumerate(calls) if call.startswith("glNewList")) + 1
    end = calls.index("glEnd()", begin)
    values = [float(v) for call in calls[begin + 1:end] for v in re.findall(r"= ([^,)]+)", call)]
    return hashlib.sha256(" ".join(f"{round(v, 9) + 0.0:.9f}" for v in values).encode()).hexdigest()


def close(a, b):
    return abs(float(a) - b) <= 1e-12 * max(1.0, abs(b))


def perspective(aspect, fovy=45.0, near=1.0, far=20.0):
    f = 1 / math.tan(math.radians(fovy) / 2)
    return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) / (near - far), -1,
            0, 0, 2 * far * near / (near - far), 0]


def follow(calls, glx=True):
    """Follows a whole run through the golden blocks, checking the ring,
    each projection, the angles and the rate text's place, and returns
    (names bound in set-up, sizes reshaped to, frames as (values, the text's
    calls))."""
    golden, bound = read_golden(glx), {}
    at, _ = match_block(golden["set-up"], calls, 0, bound, "set-up")
    assert [ring_digest(calls)] == golden["ring"], "the ring's list holds another shape"
    frames, reshaped = [], []
    while at < len(calls):
        while at < len(calls) and calls[at].startswith("glViewport"):
            values = {k: bound[k] for k in NAMES}
            at, _ = match_block(golden["reshape"], calls, at, values, "reshape")
            w, h = int(values["W"]), int(values["H"])
            assert h > 0, f"a viewport and projection for a {w}x{h} window"
            reshaped.append((w, h))
            matrix = values["PERSPECTIVE"].strip("{}").split(", ")
            assert all(map(close, matrix, perspective(w / h))), matrix
        values = {k: bound[k] for k in NAMES}
        at, text = match_block(golden["frame"], calls, at, values, f"frame {len(frames)}")
        frames.append((values, text))
    angle_x = angle_y = 0.0
    steps = 0
    for number, (v, text) in enumerate(frames):
        # Each idle call turns the ring by exactly 0.5 and 0.2 degrees; a
        # redraw the window system asks for repeats the angles.
        if not (close(v["ANGLE_X"], angle_x) and close(v["ANGLE_Y"], angle_y)):
            angle_x, angle_y, steps = angle_x + 0.5, angle_y + 0.2, steps + 1
        assert close(v["ANGLE_X"], angle_x) and close(v["ANGLE_Y"], angle_y), f"frame {number}"
        # Measured in the monospaced font, ending at the right edge; drawn in
        # the proportional one, which is narrower.
        widths = advances(text)
        length = round(len(widths) * MONO_WIDTH)
        assert close(v["TEXT_X"], int(v["W"]) - length * SCALE), v["TEXT_X"]
        assert close(v["TEXT_Y"], 120 * SCALE) and abs(float(v["SCALE"]) - SCALE) < 1e-6, \
            f"frame {number}: baseline {v['TEXT_Y']}, scale {v['SCALE']}"
        assert not widths or sum(widths) < length - 1, f"frame {number}: drawn wider than measured"
    assert frames and frames[0][1] == [], "text in the first frame"
    assert any(text for _, text in frames), "never a rate"
    assert steps > len(frames) / 2, "most frames come from idle calls"
    return bound, reshaped, frames
