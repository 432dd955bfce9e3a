"""The page as an app a person keeps (served, opened from disk and offline
are test_convert.py's): installable from any folder of a host, by
Chromium's own check; a new build deployed over the served folder reaching
a returning person whole by the second visit, never mixed with the old one,
without stopping the program on the page; a picture shared to the app
becoming the sunset."""

import io
import json
import os
import shutil
import time
import urllib.parse

from PIL import Image

import browser as b
import page as p
from browser import serve
from conftest import chromium_only

CONTROLLED = p.CONTROLLED


def retitle(parts, title):
    path = os.path.join(parts, "index.html")
    with open(path) as f:
        page = f.read().replace("<title>Orvane</title>", f"<title>{title}</title>")
    with open(path, "w") as f:
        f.write(page)


@chromium_only
def test_installable_from_a_sub_folder(browser, tmp_path):
    folder = b.make_site(str(tmp_path / "apps" / "orvane"))
    with serve(str(tmp_path)) as url:
        home = url + "apps/orvane/"
        browser.go(home)
        p.running(browser)
        browser.wait(CONTROLLED, "the service worker")
        cdp = browser.driver.execute_cdp_cmd
        assert cdp("Page.getInstallabilityErrors", {})["installabilityErrors"] == []
        answer = cdp("Page.getAppManifest", {})
        assert answer["errors"] == []
    manifest, at = json.loads(answer["data"]), lambda path: urllib.parse.urljoin(answer["url"], path)
    assert [at(manifest[key]) for key in ("id", "start_url", "scope")] == [home] * 3
    assert at(manifest["share_target"]["action"]).startswith(home)
    assert manifest["name"] == manifest["short_name"] == "Orvane" and manifest["description"]
    assert manifest["display"] == "standalone" and manifest["background_color"] and manifest["theme_color"]
    icons = {(icon["sizes"], icon.get("purpose", "any")): icon["src"] for icon in manifest["icons"]}
    assert set(icons) == {("192x192", "any"), ("512x512", "any"), ("512x512", "maskable")}
    icons[("180x180", "apple-touch-icon")] = "apple-touch-icon.png"
    for (sizes, _), name in icons.items():
        assert "x".join(map(str, Image.open(os.path.join(folder, name)).size)) == sizes, name


def build_of(browser):
    """The page's title, whether its program records its GL calls, and the
    names of the scripts and styles it loaded."""
    return browser.js(f"return [document.title, Boolean({p.INSIDE}.orvaneGlCalls), performance.getEntriesByType"
                      "('resource').map((e) => e.name.split('/').pop()).filter((n) => /\\.(js|css)$/.test(n))]")


def test_a_new_build_reaches_a_returning_person_whole_by_the_second_visit(browser, tmp_path):
    old = b.make_site(str(tmp_path / "old"))
    new = p.make_site(str(tmp_path / "new"), program=os.environ["ORVANE_RECORDED"],
                      edit=lambda parts: retitle(parts, "Orvane, the new build"))
    served = str(tmp_path / "served")
    shutil.copytree(old, served)
    with serve(served) as url:
        browser.go(url)
        p.running(browser)
        browser.wait(CONTROLLED, "the service worker")
        # The deploy: files newer than those served before, by HTTP's whole seconds.
        time.sleep(1)
        shutil.rmtree(served)
        shutil.copytree(new, served, copy_function=shutil.copy)
        for visit, (title, recorded, files) in enumerate([("Orvane", False, old), ("Orvane, the new build", True, new)]):
            browser.go(url)
            p.running(browser)
            got = build_of(browser)
            assert got[:2] == [title, recorded] and set(got[2]) <= set(os.listdir(files)), (visit, got)
            if visit == 0:
                # The new version took over; the program on the page goes on, and a start runs the same build.
                browser.wait("return document.getElementById('update').textContent", "the update line")
                assert browser.js("return document.getElementById('update').innerText") == \
                    "A new version is ready: Reload"
                assert p.audit(browser) == [], "the update line"
                browser.click("start")
                p.running(browser, start=2)
                assert build_of(browser)[:2] == [title, recorded]
        browser.js("caches.keys().then((names) => { window.kept = names; })")
        assert len(browser.wait("return window.kept", "the caches")) == 1, "an older version's cache kept"


@chromium_only
def test_a_picture_shared_to_the_app_becomes_the_sunset(browser, site, tmp_path):
    folder = site()
    with open(os.path.join(folder, "manifest.json")) as f:
        share = json.load(f)["share_target"]
    picture = io.BytesIO()
    Image.radial_gradient("L").convert("RGB").resize((320, 200)).save(picture, "PNG")
    with serve(folder) as url:
        browser.go(url)
        p.running(browser)
        browser.wait(CONTROLLED, "the service worker")
        # The form a share sends, as the manifest declares it.
        browser.js("""const [share] = arguments, form = document.createElement("form");
                      Object.assign(form, {id: "share", action: share.action, method: share.method, enctype: share.enctype});
                      form.innerHTML = `<input type="file" id="shared" name="${share.params.files[0].name}">`;
                      document.body.append(form);""", share)
        p.choose(browser, str(tmp_path), "shared", "shared.png", picture.getvalue())
        browser.js("document.getElementById('share').submit()")
        browser.wait("return location.hash == '' && window.orvane.starts == 2", "the shared picture", timeout=30)
        assert browser.js("return document.getElementById('converted-sunset').innerText") == \
            "shared.png: a PNG of 320x200, converted to a 256-colour bitmap of 320x200 Download sunset.bmp"
        p.running(browser, start=2)
