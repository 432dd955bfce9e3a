"""The Windows program as Windows users meet it, under Wine: the file (a GUI
program importing only system DLLs, with its icon, version and manifest),
and a start from a console, which says there why a picture was refused
unless standard error was redirected."""

import os
import re
import struct
import xml.etree.ElementTree as ET

import pefile
import pytest

import orvane_harness as h

VERSION = os.environ["ORVANE_VERSION"]
LICENSE = os.path.join(os.path.dirname(__file__), "..", "..", "LICENSE")
REASON = "sunset.bmp: cannot open: No such file or directory (see README-windows.txt)"
LINE = "Error! Initialization failed"
SYSTEM_DLLS = {"ADVAPI32.DLL", "GDI32.DLL", "GLU32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "OPENGL32.DLL",
               "USER32.DLL", "WINMM.DLL"}
ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]


def resources(pe, kind):
    """{id or name: data} of one kind of resource, first language each."""
    [entries] = [t.directory.entries for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if t.id == pefile.RESOURCE_TYPE[kind]]
    found = {}
    for entry in entries:
        data = entry.directory.entries[0].data.struct
        found[str(entry.name) if entry.name else entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def test_a_gui_program_with_its_icon_version_and_manifest():
    pe = pefile.PE(h.PROGRAM)
    assert pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    imported = {entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    assert imported and imported <= SYSTEM_DLLS, imported - SYSTEM_DLLS

    # One icon group, under the name freeglut loads, every size; 256 as PNG.
    groups = resources(pe, "RT_GROUP_ICON")
    assert list(groups) == ["GLUT_ICON"]
    group = groups["GLUT_ICON"]
    members = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(group[4])]
    assert sorted(width or 256 for width, *_ in members) == ICON_SIZES
    icons = resources(pe, "RT_ICON")
    for width, _, _, _, _, bits, _, number in members:
        png = icons[number].startswith(b"\x89PNG")
        assert png == (width == 0) and (png or bits == 32), (width, bits)

    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, "StringTable")
               for table in info.StringTable for k, v in table.entries.items()}
    copyright = next(line.strip() for line in open(LICENSE) if line.startswith("Copyright"))
    assert {k: strings.get(k) for k in ("ProductName", "FileDescription", "ProductVersion", "FileVersion",
                                        "LegalCopyright", "OriginalFilename")} == {
        "ProductName": "Orvane", "FileDescription": "Orvane", "ProductVersion": VERSION,
        "FileVersion": VERSION, "LegalCopyright": copyright, "OriginalFilename": "orvane.exe"}

    manifest = ET.fromstring(resources(pe, "RT_MANIFEST")[1])
    found = lambda path: [e.attrib or e.text for e in manifest.iter() if e.tag.endswith(path)]
    assert {"name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0"}.items() <= \
        found("}assemblyIdentity")[1].items()
    assert found("}requestedExecutionLevel")[0]["level"] == "asInvoker"
    assert len(found("}supportedOS")) == 5
    assert found("}dpiAware") == ["false"]


def visible(terminal):
    """What a terminal shows of a console's output, spaces aside: Wine's
    console draws each character between cursor moves."""
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\s", "", terminal)


@pytest.mark.parametrize("redirect", [[], ["2>", "log.txt"]], ids=["console", "redirected"])
def test_a_console_start_says_why_there_unless_redirected(display, tmp_path, redirect):
    with h.Program(display, str(tmp_path), terminal=True, argv=redirect) as program:
        display.xdotool("windowfocus", "--sync", program.window("Error!"), "key", "Return")
        assert program.process.wait(timeout=h.TIMEOUT) == 1
    with open(program.stdout_path) as f:
        terminal = visible(f.read())
    said = visible(REASON + LINE)
    if redirect:
        assert said not in terminal
        assert (tmp_path / "log.txt").read_text().splitlines() == [REASON, LINE]
    else:
        assert said in terminal, terminal
