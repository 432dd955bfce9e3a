"""Row 7 of bench/run: a person's own photo in the page. From choosing a
20-megapixel JPEG to the first frame the program draws on it, against
ImageMagick making a 256-colour bitmap of the same photo (without dithering,
as the page makes it; at full size, and scaled as the page scales it), in
the same rounds, taking turns. Then how close the colours come to twelve
real photos: the page's colour chooser (bench/quantize_picture, the same
code natively) against ImageMagick's, PSNR against each photo at its own
size.

The photos are mate-backgrounds' (Debian), the large JPEG made from one of
them by ImageMagick at the start."""

import collections
import glob
import math
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from PIL import Image, ImageChops

import orvane_harness as h

PHOTOS = "/usr/share/backgrounds/mate/nature"
LARGE = (5760, 3600)  # 20.7 megapixels
# Notes the moment a file is chosen for the sunset, on the page's clock.
MARK_CHOICE = """
if (!window.benchListening) document.getElementById("sunset").addEventListener("change", (event) => {
  window.benchChosen = performance.timeOrigin + event.timeStamp;
});
window.benchListening = true;
"""
FIRST_FRAME = """
const inside = orvane.frame.contentWindow, frames = inside.orvaneFrames || [];
const line = document.getElementById("converted-sunset").textContent;
return orvane.starts > arguments[0] && frames.length > 0 && [benchChosen, inside.performance.timeOrigin + frames[0], line];
"""


def magick(source, out, *options):
    subprocess.run(["convert", source, *options, "-dither", "None", "-colors", "256", "-type", "Palette",
                    "-compress", "None", f"BMP3:{out}"], check=True)


def psnr(a, b):
    histogram = ImageChops.difference(a, b).histogram()
    squared = sum(v * v * n for c in range(3) for v, n in enumerate(histogram[256 * c:256 * c + 256]))
    return 10 * math.log10(255 ** 2 * 3 * a.size[0] * a.size[1] / squared)


def page_run(page, photo):
    """ms from choosing `photo` for the sunset to the first frame drawn on it."""
    before = page.js(MARK_CHOICE + "return orvane.starts")
    page.choose("sunset", photo)
    chosen, first, line = h.wait_until(lambda: page.js(FIRST_FRAME, before),
                                       "the first frame on the photo", timeout=120, interval=0.005)
    if ", converted to a 256-colour bitmap of 2048x1280" not in line:
        raise RuntimeError(f"the page said: {line}")
    return first - chosen


def photo_row(web, build, rounds, row, spread, target, turns):
    """Prints row 7; `row`, `spread`, `target` and `turns` are bench/run's."""
    if not shutil.which("convert") or not os.path.isdir(PHOTOS):
        print("7. Your own photo: needs imagemagick and mate-backgrounds (scripts/setup-deps --bench)")
        return
    import browser  # only for this row, in Chromium
    folder = tempfile.mkdtemp(prefix="orvane-photo-")
    photo, out = os.path.join(folder, "photo.jpg"), os.path.join(folder, "out.bmp")
    subprocess.run(["convert", f"{PHOTOS}/LadyBird.jpg", "-resize", "x".join(map(str, LARGE)), "-quality", "92",
                    photo], check=True)
    names = ["page", "ImageMagick", "ImageMagick, 2048"]
    times = collections.defaultdict(list)
    try:
        site = browser.make_site(os.path.join(folder, "site"))  # with the frame hook
        with browser.serve(site) as address, browser.open_browser("chromium") as page:
            page.go(address)
            h.wait_until(lambda: page.js("return orvane.state") == "running", "the page")
            for _, order in turns(names, rounds):
                for who in order:
                    if who == "page":
                        times[who].append(page_run(page, photo))
                        continue
                    start = time.perf_counter()
                    magick(photo, out, *(["-resize", "2048x2048"] if who.endswith("2048") else []))
                    times[who].append((time.perf_counter() - start) * 1e3)

        print(f"7. Your own photo: a JPEG of {LARGE[0]}x{LARGE[1]}, {rounds} runs" +
              "".join(f"{n:>26}" for n in names))
        row("ms, chosen .. first frame on it", [spread(times[n], 0) for n in names])
        ratio = [p / m for p, m in zip(times["page"], times["ImageMagick"])]
        row("page / ImageMagick", [spread(ratio, 3)], target("<=0.5x", statistics.median(ratio) <= 0.5))

        ours, theirs = [], []
        for source in sorted(glob.glob(f"{PHOTOS}/*.jpg")):
            original = Image.open(source).convert("RGB")
            original.save(os.path.join(folder, "photo.ppm"))
            subprocess.run([f"{build}/bench/quantize_picture", os.path.join(folder, "photo.ppm"), out], check=True)
            ours.append(psnr(original, Image.open(out).convert("RGB")))
            magick(os.path.join(folder, "photo.ppm"), out)
            theirs.append(psnr(original, Image.open(out).convert("RGB")))
        means = [statistics.mean(ours), statistics.mean(theirs)]
        row(f"PSNR, dB, mean of {len(ours)} photos", [f"{m:.2f}" for m in means],
            target("above ImageMagick's", means[0] > means[1]))
        row("photos where the page's is higher", [f"{sum(a > b for a, b in zip(ours, theirs))} of {len(ours)}"])
    finally:
        shutil.rmtree(folder, True)
