"""What every program test starts from: a private X server, a scratch folder
with the sample pictures and the fixture corpus, and programs stopped when
the test ends."""

import shutil

import pytest

import orvane_harness as h


@pytest.fixture(scope="module")
def display():
    with h.Display() as display:
        yield display


@pytest.fixture(scope="module")
def folder():
    folder = h.scratch_folder(corpus=True)
    yield folder
    shutil.rmtree(folder, True)


@pytest.fixture
def start(display, folder):
    """Starts the program with h.Program's options, watched on `on`."""
    programs = []
    yield lambda on=display, **options: programs.append(h.Program(on, folder, **options)) or programs[-1]
    for program in programs:
        program.stop()
