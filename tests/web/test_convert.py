"""The page's converter as a person meets it: photos chosen for both roles
are converted, said so in a line, and drawn as Mesa draws the same bitmaps
(taken from the page's download links); a photo comes out upright
whatever its EXIF orientation; a picture of 16 colours keeps
exactly its colours; a large one is scaled; of several chosen in a row only
the last counts; what the browser cannot open reaches the program, which
refuses it with its reason. The few operations on the page are small
functions, the same for every engine. The page works the same served,
opened from disk and offline."""

import base64
import io
import time

import pytest
from PIL import Image, ImageChops

import page as p
from browser import serve


def picture(size, kind, colours=None):
    """A photo-like picture (gradients and a fractal's fine detail), or one
    of `colours` colours in bands; encoded as `kind` ("JPEG", "PNG")."""
    if colours:
        image = Image.linear_gradient("L").resize(size).quantize(colours).convert("RGB")
    else:
        bands = (Image.linear_gradient("L"), Image.radial_gradient("L").rotate(30),
                 Image.effect_mandelbrot((256, 256), (-2, -1.2, 0.8, 1.2), 60))
        image = Image.merge("RGB", [band.resize(size, Image.BICUBIC) for band in bands])
    out = io.BytesIO()
    image.save(out, kind, quality=92)
    return out.getvalue()


def open_page(browser, url):
    browser.go(url)
    p.running(browser)


def starts(browser):
    return browser.js("return window.orvane.starts")


def line(browser, role):
    """The role's line once the conversion has ended."""
    return browser.wait("const text = document.getElementById(arguments[0]).innerText.trim();"
                        "return text && !text.endsWith('converting…') && text", "the page's line", "converted-" + role)


def download(browser, role):
    """The bitmap behind the role's download link, and the name it saves as."""
    browser.js("""
        const link = document.querySelector("#converted-" + arguments[0] + " a");
        window.downloaded = null;
        fetch(link.href).then((response) => response.arrayBuffer()).then((buffer) => {
          const bytes = new Uint8Array(buffer);
          let text = "";
          for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
          window.downloaded = [btoa(text), link.download];
        });
    """, role)
    data, name = browser.wait("return window.downloaded", "the download")
    return Image.open(io.BytesIO(base64.b64decode(data))), name


def psnr(a, b):
    return p.compare(a, b)[2]


# Served, opened from disk, and offline after one visit.
@pytest.mark.parametrize("how", ["served", "disk", "offline"])
def test_photos_chosen_are_converted_and_drawn_as_mesa_draws_the_bitmaps(browser, tmp_path, how):
    folder = p.recorded_site(str(tmp_path / "site"))
    jpeg, png = picture((640, 480), "JPEG"), picture((300, 200), "PNG")
    with p.opened(browser, folder, how) as url:
        open_page(browser, url)
        p.choose(browser, tmp_path, "sunset", "photo.jpg", jpeg)
        assert line(browser, "sunset") == \
            "photo.jpg: a JPEG of 640x480, converted to a 256-colour bitmap of 640x480 Download sunset.bmp"
        p.choose(browser, tmp_path, "colormap", "photo.png", png)
        assert line(browser, "colormap") == \
            "photo.png: a PNG of 300x200, converted to a 256-colour bitmap of 300x200 Download colormap.bmp"
        p.running(browser, start=3)
        assert p.audit(browser) == [], "a converted photo"
        for role, original in (("sunset", jpeg), ("colormap", png)):
            bitmap, name = download(browser, role)
            assert bitmap.mode == "P" and name == role + ".bmp"
            assert psnr(bitmap.convert("RGB"), Image.open(io.BytesIO(original)).convert("RGB")) >= 30
            bitmap.save(tmp_path / name)
        p.grab_and_hold(browser, str(tmp_path), (300, 300))


# How each EXIF orientation's pixels are stored, so that honouring the tag
# gives the picture upright.
STORED = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM, 5: Image.TRANSPOSE,
          6: Image.ROTATE_90, 7: Image.TRANSVERSE, 8: Image.ROTATE_270}


def test_a_photo_is_converted_upright_whatever_its_exif_orientation(browser, site, tmp_path):
    # Gradients down and across and a fractal: no flip or turn leaves it alike.
    bands = (Image.linear_gradient("L"), Image.linear_gradient("L").rotate(90),
             Image.effect_mandelbrot((256, 256), (-2, -1.2, 0.8, 1.2), 60))
    upright, bitmaps = Image.merge("RGB", [band.resize((120, 80)) for band in bands]), []
    with serve(site()) as url:
        open_page(browser, url)
        for orientation in range(1, 9):
            exif, name, out = Image.Exif(), f"orientation-{orientation}.jpg", io.BytesIO()
            exif[0x0112] = orientation
            stored = upright.transpose(STORED[orientation]) if orientation > 1 else upright
            stored.save(out, "JPEG", quality=95, exif=exif.tobytes())
            p.choose(browser, tmp_path, "sunset", name, out.getvalue())
            browser.wait("return document.getElementById('converted-sunset').textContent.startsWith(arguments[0])",
                         "the page taking it", name + ": ")
            assert line(browser, "sunset") == \
                f"{name}: a JPEG of 120x80, converted to a 256-colour bitmap of 120x80 Download sunset.bmp"
            bitmaps.append(download(browser, "sunset")[0].convert("RGB"))
            assert psnr(bitmaps[-1], upright) >= 28 and psnr(bitmaps[-1], bitmaps[0]) >= 28, name


# A true-colour bitmap is a picture the program does not read: converted too.
@pytest.mark.parametrize("kind", ["PNG", "BMP"])
def test_16_colours_stay_exactly_those_and_the_name_stays_text(browser, site, tmp_path, kind):
    data, name = picture((120, 80), kind, colours=16), f"<b>16 colours<b>.{kind.lower()}"
    with serve(site()) as url:
        open_page(browser, url)
        p.choose(browser, tmp_path, "colormap", name, data)
        assert line(browser, "colormap") == \
            f"{name}: a {kind} of 120x80, converted to a 16-colour bitmap of 120x80 Download colormap.bmp"
        assert not browser.js("return document.querySelectorAll('.converted b').length")
        bitmap, _ = download(browser, "colormap")
        assert p.ended(browser, p.click_ok)[0] == "accepted"
    assert len(bitmap.getpalette()) == 16 * 3
    assert not ImageChops.difference(bitmap.convert("RGB"), Image.open(io.BytesIO(data)).convert("RGB")).getbbox()


def test_a_large_picture_is_scaled_and_only_the_last_of_several_counts(browser, site, tmp_path):
    large = picture((3000, 1200), "PNG")
    with serve(site()) as url:
        open_page(browser, url)
        p.choose(browser, tmp_path, "sunset", "large.png", large)
        assert line(browser, "sunset") == \
            "large.png: a PNG of 3000x1200, converted to a 256-colour bitmap of 2048x819 Download sunset.bmp"
        bitmap, _ = download(browser, "sunset")
        assert bitmap.size == (2048, 819)
        assert psnr(bitmap.convert("RGB"), Image.open(io.BytesIO(large)).convert("RGB").resize(
            bitmap.size, Image.LANCZOS)) >= 30
        # Three in a row, each slower to convert than choosing the next.
        before = starts(browser)
        # Each one taken before the next is chosen (a driver may hand files
        # over out of order).
        for name, data in (("first.jpg", picture((4000, 3000), "JPEG")), ("second.png", large),
                           ("last.png", picture((200, 100), "PNG", colours=5))):
            p.choose(browser, tmp_path, "sunset", name, data)
            browser.wait("return document.getElementById('converted-sunset').textContent.startsWith(arguments[0])",
                         "the page taking it", name + ": ")
        assert line(browser, "sunset") == \
            "last.png: a PNG of 200x100, converted to a 5-colour bitmap of 200x100 Download sunset.bmp"
        p.running(browser, start=before + 1)
        time.sleep(3)  # longer than the older ones would take to convert
        assert starts(browser) == before + 1 and line(browser, "sunset").startswith("last.png: ")


def huge_png(side):
    """A PNG of side x side grey pixels, which no browser should have to hold."""
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    packer = zlib.compressobj(9)
    rows = b"".join(packer.compress(b"\0" + bytes(side // 8)) for _ in range(side)) + packer.flush()
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0)) + \
        chunk(b"IDAT", rows) + chunk(b"IEND", b"")


@pytest.mark.parametrize("name,data,signature", [
    ("damaged.jpg", lambda: b"\xff\xd8\xff\xe0" + bytes(300), "JPEG"),
    ("30000x30000.png", lambda: huge_png(30000), "PNG"),
])
def test_what_the_browser_cannot_open_reaches_the_program_which_refuses_it(browser, site, tmp_path, name,
                                                                          data, signature):
    with serve(site()) as url:
        open_page(browser, url)
        p.choose(browser, tmp_path, "sunset", name, data())
        said = line(browser, "sunset")
        browser.wait("return window.orvane.starts == 2", "the new start")
        outcome = p.ended(browser, p.click_ok)
    if said.startswith("30000x30000.png: a PNG of 30000x30000, converted"):  # an engine that opens it
        assert said.endswith("bitmap of 2048x2048 Download sunset.bmp") and outcome[0] == "accepted"
        return
    assert said == f"{name}: the browser cannot open it as a picture; given to the program as it is"
    reason = f"sunset.bmp: not a Windows bitmap (it starts with the {signature} signature)"
    assert outcome == ("refused", [reason + p.POINTER, p.LINE], 1)
