#!/usr/bin/env python3
"""Makes the site from its parts, as the build gathers them in one folder:
the page (web/page), the program (orvane.js, orvane.wasm), the converter
(convert.js, convert.wasm, convert-worker.js), the sample pictures and the
icons.

    assemble_site.py PARTS SITE

The site works wherever it is opened: served from any folder, installed,
offline, and straight from disk, where a page may load scripts but fetch
nothing. So what the page would fetch travels in scripts of its own (the
program's code and wasm, the converter's, the sample pictures), and the page
loads all its code when it opens, never later.

Every script and style the page loads is named by its contents
(name.HASH.js), so an index.html can only ever run its own build's code,
whatever a cache holds. sw.js gets the site's version, derived from every
file's contents, and each file's digest, which it checks as it caches them.
"""

import base64
import hashlib
import json
import os
import re
import shutil
import sys
import zlib

SAMPLES = ("sunset.bmp", "colormap.bmp")
# Parts that reach the site only inside the scripts that carry them.
CARRIED = ("orvane.js", "orvane.wasm", "convert.js", "convert.wasm", "convert-worker.js") + SAMPLES


def carried_scripts(read, has):
    """The scripts that carry what a page opened from disk cannot fetch."""
    def carry(name, value):
        return f"const {name} = {json.dumps(value)};\n".encode()

    def b64(data):
        return base64.b64encode(data).decode()

    # Deflated (the program to a third of its size, the samples to an
    # eighth): the page inflates them as it opens, sooner than a browser
    # reads the bytes saved.
    def deflated(data):
        return b64(zlib.compress(data, 9))
    return {
        "orvane.js": carry("ORVANE_PROGRAM", {"code": deflated(read("orvane.js")), "wasm": deflated(read("orvane.wasm"))}),
        "converter.js": carry("ORVANE_CONVERTER", {"code": (read("convert.js") + read("convert-worker.js")).decode(),
                                                   "wasm": b64(read("convert.wasm"))}),
        "samples.js": carry("ORVANE_SAMPLES", {name: deflated(read(name)) for name in SAMPLES if has(name)}),
    }


def assemble(parts, site):
    def read(name):
        with open(os.path.join(parts, name), "rb") as f:
            return f.read()

    def write(name, data):
        with open(os.path.join(site, name), "wb") as f:
            f.write(data)
        digests[name] = hashlib.sha256(data).hexdigest()

    os.makedirs(site, exist_ok=True)
    digests = {}
    scripts = carried_scripts(read, lambda name: os.path.exists(os.path.join(parts, name)))
    loaded = set()

    def by_contents(match):
        name = match.group(2)
        data = scripts[name] if name in scripts else read(name)
        stem, extension = os.path.splitext(name)
        named = f"{stem}.{hashlib.sha256(data).hexdigest()[:12]}{extension}"
        write(named, data)
        loaded.add(name)
        return f'{match.group(1)}="{named}"'
    page = re.sub(r'\b(src|href)="([\w-]+\.(?:js|css))"', by_contents, read("index.html").decode())
    write("index.html", page.encode())

    for name in sorted(os.listdir(parts)):
        if name not in loaded and name not in CARRIED and name not in ("index.html", "sw.js"):
            write(name, read(name))
    version = hashlib.sha256(json.dumps(digests, sort_keys=True).encode()).hexdigest()[:16]
    worker = read("sw.js").decode()
    filled = re.sub(r"^const SITE = .*$", lambda _: f"const SITE = {json.dumps({'version': version, 'files': digests})};",
                    worker, count=1, flags=re.M)
    assert filled != worker, "sw.js has no SITE line to fill"
    with open(os.path.join(site, "sw.js"), "w") as f:
        f.write(filled)
    return version


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    shutil.rmtree(sys.argv[2], ignore_errors=True)
    assemble(sys.argv[1], sys.argv[2])
