"""The README's ImageMagick line, run as a person copies it, on a photo in
Adobe RGB (1998) with its profile embedded, as many cameras write them: the
bitmap it makes is one the program reads, in the colours a colour-managed
viewer shows."""

import io
import math
import os
import re
import subprocess

from PIL import Image, ImageChops, ImageCms

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
ICC = "/usr/share/color/icc/"  # icc-profiles-free


def psnr(a, b):
    squared = sum((v % 256) ** 2 * n for v, n in enumerate(ImageChops.difference(a, b).histogram()))
    return 10 * math.log10(255 ** 2 * 3 * a.size[0] * a.size[1] / squared)


def test_the_readme_line_gives_an_adobe_rgb_photo_the_colours_a_viewer_shows(tmp_path):
    recipe = re.search(r"`(convert photo\.jpg [^`]* BMP3:sunset\.bmp)`", open(README).read()).group(1)
    srgb = ImageCms.getOpenProfile(ICC + "sRGB.icc")
    adobe = ImageCms.getOpenProfile(ICC + "compatibleWithAdobeRGB1998.icc")
    # Photo-like: every hue, saturated at the top, grey at the bottom, with grain.
    ramp = Image.linear_gradient("L").resize((512, 512))
    light = Image.radial_gradient("L").resize((512, 512)).point(lambda v: 255 - v // 3)
    picture = Image.merge("HSV", [ramp.rotate(90), ramp.transpose(Image.FLIP_TOP_BOTTOM), light]).convert("RGB")
    picture = Image.blend(picture, Image.effect_noise((512, 512), 40).convert("RGB"), 0.05)
    ImageCms.profileToProfile(picture, srgb, adobe).save(tmp_path / "photo.jpg", quality=95,
                                                          icc_profile=adobe.tobytes())
    subprocess.run(recipe, shell=True, cwd=tmp_path, check=True)

    photo = Image.open(tmp_path / "photo.jpg")
    shown = ImageCms.profileToProfile(photo, ImageCms.ImageCmsProfile(io.BytesIO(photo.info["icc_profile"])), srgb)
    bitmap = (tmp_path / "sunset.bmp").read_bytes()
    assert bitmap[28:34] == bytes([8, 0, 0, 0, 0, 0]), "not 8 bits per pixel, uncompressed"
    # 256 colours, dithered, come to about 29 dB here; the photo's own values
    # read as sRGB, to about 22.
    assert (db := psnr(Image.open(io.BytesIO(bitmap)).convert("RGB"), shown)) > 26, f"{db:.1f} dB"
