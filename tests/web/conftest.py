"""What every browser test starts from: Chromium with the frame hook
(tests/harness/browser.py), and copies of the installed page to change."""

import os
import shutil
import tempfile

import pytest

import browser as b


@pytest.fixture
def site():
    """A copy of the page: site(drop=()) gives its folder, the named files
    left out."""
    folders = []

    def make(drop=()):
        folders.append(tempfile.mkdtemp(prefix="orvane-site-"))
        shutil.copytree(os.environ["ORVANE_SITE"], folders[-1], dirs_exist_ok=True)
        for name in drop:
            os.remove(os.path.join(folders[-1], name))
        return folders[-1]
    yield make
    for folder in folders:
        shutil.rmtree(folder, True)


@pytest.fixture(scope="module")
def browser():
    with b.chromium() as driver:
        yield driver
