"""The Windows installer as a person uses it, under Wine, in a prefix and
home of its own: installed silently, the files, the Start-menu entry's
target and folder, the Add/Remove Programs entry; the program started in
that folder, drawing; then uninstalled silently with nothing left."""

import os
import re
import shutil
import struct
import subprocess

import orvane_harness as h

VERSION = os.environ["ORVANE_VERSION"]
INSTALLER = os.environ["ORVANE_INSTALLER"]
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
FOLDER = r"C:\Program Files\Orvane"


def shortcut(path):
    """A shortcut's target and working folder, from its LinkInfo and string
    data (each of Wine's strings ends in a NUL)."""
    data = open(path, "rb").read()
    flags, at, target = struct.unpack_from("<I", data, 20)[0], 76, None
    if flags & 0x1:  # an item-ID list first
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x2:  # LinkInfo, with the local path
        size, _, info_flags, _, base = struct.unpack_from("<5I", data, at)
        if info_flags & 0x1:
            target = data[at + base:data.index(b"\0", at + base)].decode()
        at += size
    strings = {}
    for bit in (0x4, 0x8, 0x10, 0x20, 0x40):  # name, relative path, folder, arguments, icon
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            strings[bit] = data[at + 2:at + 2 + 2 * count].decode("utf-16-le").rstrip("\0")
            at += 2 + 2 * count
    return target, strings.get(0x10)


def test_installs_starts_and_uninstalls_cleanly(display, tmp_path, monkeypatch):
    scratch = os.environ["ORVANE_INSTALLER_SCRATCH"]
    shutil.rmtree(scratch, True)
    os.makedirs(os.path.join(scratch, "home"))
    for name, value in {"WINEPREFIX": os.path.join(scratch, "wine"), "HOME": os.path.join(scratch, "home"),
                        "WINEDLLOVERRIDES": h.WINE_DLLS, "WINEDEBUG": "-all"}.items():
        monkeypatch.setenv(name, value)

    def wine(*args):
        return subprocess.run(["wine", *args], env=display.env(), capture_output=True, text=True,
                              timeout=3 * h.TIMEOUT)

    def wineserver(how):  # -w: until every process is done (an uninstaller goes on from a copy)
        subprocess.run(["wineserver", how], env=display.env(), timeout=h.TIMEOUT)

    def unix(path):
        return os.path.join(scratch, "wine", "drive_c", *path[3:].split("\\"))

    def registry(key):
        """A key's values, or None where there is no such key."""
        out = wine("reg", "query", key)
        return dict(re.findall(r"^    (.+?)    REG_\w+    (.*)$", out.stdout, re.M)) if out.returncode == 0 \
            else None

    assert os.path.exists(INSTALLER), "no installer: scripts/build-windows makes it"
    assert wine(INSTALLER, "/S").returncode == 0
    folder = unix(FOLDER)
    assert sorted(os.listdir(folder)) == ["LICENSE.txt", "README-windows.txt", "Uninstall.exe",
                                          "colormap.bmp", "orvane.exe", "sunset.bmp"]
    menu = unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvane")
    assert sorted(os.listdir(menu)) == ["Orvane.lnk", "Uninstall.lnk"]
    assert shortcut(os.path.join(menu, "Orvane.lnk")) == (FOLDER + r"\orvane.exe", FOLDER)
    # One entry, by a name that stays from version to version: installing
    # again, whatever the version, replaces it.
    entry = registry(UNINSTALL + r"\Orvane")
    assert entry and {k: entry.get(k) for k in ("DisplayName", "DisplayVersion", "Publisher", "DisplayIcon")} \
        == {"DisplayName": "Orvane", "DisplayVersion": VERSION, "Publisher": "the Orvane developers",
            "DisplayIcon": FOLDER + r"\orvane.exe"}

    # Started in the shortcut's folder, as the Start menu starts it.
    with h.Program(display, folder, command=["orvane.exe"], records=str(tmp_path)) as program:
        window = program.window()
        h.wait_until(lambda: any(g >= 200 and r <= 60 and b <= 60
                                 for r, g, b in display.screenshot(window).getdata()), "the rate text")
        assert program.close(window) == 0

    assert wine(entry["UninstallString"].strip('"'), "/S").returncode == 0
    wineserver("-w")
    assert not os.path.exists(folder) and not os.path.exists(menu)
    assert registry(UNINSTALL + r"\Orvane") is None
    assert registry(r"HKLM\Software\the Orvane developers") is None
    wineserver("-k")
    shutil.rmtree(scratch)  # kept where something failed, for a look
