"""What every browser test starts from: the engine this run tests
(ORVANE_ENGINE: chromium, firefox or webkit) with the frame hook
(tests/harness/browser.py), and copies of the installed page to change."""

import os
import shutil
import tempfile

import pytest

import browser as b
import page

ENGINE = os.environ.get("ORVANE_ENGINE", "chromium")
# The longer checks run in one engine.
chromium_only = pytest.mark.skipif(ENGINE != "chromium", reason="checked in Chromium only")


@pytest.fixture
def site():
    """A copy of the page: site(drop=(), program=None) gives its folder, the
    named files left out, and orvane.js and .wasm from `program`'s folder
    if given."""
    folders = []

    def make(drop=(), program=None):
        folders.append(page.make_site(tempfile.mkdtemp(prefix="orvane-site-"), drop, program))
        return folders[-1]
    yield make
    for folder in folders:
        shutil.rmtree(folder, True)


@pytest.fixture(scope="session")
def browser():
    with b.open_browser(ENGINE) as driver:
        yield driver
