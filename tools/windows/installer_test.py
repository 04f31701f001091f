#!/usr/bin/env python3
"""Installs, runs and uninstalls the Windows program with its installer under Wine, silently.

Usage: installer_test.py PATH_TO_ZARNIK_VIEWER_SETUP_EXE

In a fresh prefix: install, check what it wrote, fetch all.xml from the installed program after
an update, uninstall with /KEEPSETTINGS while it runs, install again, uninstall: nothing of ours
may be left. Every wait is bounded; Wine and Xvfb are stopped at the end.
"""

import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gui_test import (RUN_KEY, Failure, check_update, read_run_value,  # noqa: E402
                      registry_values, run_session)

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZarnikViewer"
PROGRAM_FILES = {"zarnik-viewer.exe", "about.html", "uninstall.exe"}
SETTINGS_FILES = {"settings.dat", "service.conf"}


class Install:
    """Where the installer puts things in this prefix; unix() gives the Linux path."""

    def __init__(self, session):
        out = session.run(["wine", "cmd", "/c", "echo %LOCALAPPDATA%&echo %APPDATA%"], timeout=60)
        local, roaming = [line.strip() for line in out.stdout.decode().splitlines()[:2]]
        self.folder = local + r"\Programs\Zarnik Viewer"
        self.program = self.folder + r"\zarnik-viewer.exe"
        self.shortcut = roaming + r"\Microsoft\Windows\Start Menu\Programs\Zarnik Viewer.lnk"
        drive_c = os.path.join(session.env["WINEPREFIX"], "drive_c")
        self.unix = lambda path: os.path.join(drive_c, *path[3:].split("\\"))

    def files(self):
        folder = self.unix(self.folder)
        return set(os.listdir(folder)) if os.path.isdir(folder) else None


def run_windows_program(session, args):
    """Runs it, then waits until Wine is idle: the uninstaller goes on as a copy of itself."""
    if session.run(["wine"] + args, timeout=120, check=False).returncode != 0:
        raise Failure("%s did not succeed" % " ".join(args))
    session.wineserver("-w")


def check_installed(session, checks, install):
    checks.report(install.files() == PROGRAM_FILES, "installed into " + install.folder,
                  repr(install.files()))
    program = open(install.unix(install.program), "rb").read()
    resources = program.decode("utf-16-le", errors="ignore")
    version = re.search("ProductVersion\0+([0-9.]+)", resources)
    checks.report(bool(re.search("ProductName\0+Zarnik Viewer\0", resources) and version),
                  "the program carries its name and version", "%d bytes" % len(program))

    shortcut = install.unix(install.shortcut)
    link = open(shortcut, "rb").read() if os.path.exists(shortcut) else b""
    checks.report(install.program.encode("utf-16-le") in link or install.program.encode() in link,
                  "the Start-menu shortcut starts the program", install.shortcut)

    values = registry_values(session, UNINSTALL_KEY) or {}
    uninstaller = '"%s\\uninstall.exe"' % install.folder
    expected = {"DisplayName": "Zarnik Viewer", "DisplayIcon": install.program + ",0",
                "DisplayVersion": version and version.group(1), "InstallLocation": install.folder,
                "UninstallString": uninstaller, "QuietUninstallString": uninstaller + " /S",
                "NoModify": "0x1", "NoRepair": "0x1"}
    wrong = {name: values.get(name) for name in expected if values.get(name) != expected[name]}
    size = int(values.get("EstimatedSize", "0"), 16)
    on_disk = sum(os.path.getsize(install.unix(install.folder + "\\" + name))
                  for name in PROGRAM_FILES) // 1024
    checks.report(not wrong and abs(size - on_disk) <= 8, "the Uninstall key",
                  "wrong %r, EstimatedSize %d KB for %d KB" % (wrong, size, on_disk))
    return values.get("QuietUninstallString", "").replace('"', "").rsplit(" ", 1)


def uninstall(session, checks, install, command, kept):
    """Uninstalls with the key's quiet command; only the kept files may be left in the folder (no
    folder when none), and no shortcut, Uninstall key or Run value."""
    session.run(["wine", "reg", "add", RUN_KEY, "/v", "Zarnik Viewer", "/d",
                 '"%s"' % install.program, "/f"], timeout=60)
    run_windows_program(session, command + (["/KEEPSETTINGS"] if kept else []))
    stage = "uninstalled%s: " % (" with /KEEPSETTINGS" if kept else "")
    checks.report(install.files() == (kept or None), stage + "what is left of the folder",
                  repr(install.files()))
    left = [name for name, there in (
        ("shortcut", os.path.exists(install.unix(install.shortcut))),
        ("Uninstall key", registry_values(session, UNINSTALL_KEY) is not None),
        ("Run value", read_run_value(session) is not None)) if there]
    checks.report(not left, stage + "no shortcut, Uninstall key or Run value", ", ".join(left))


def run_checks(session, checks, setup):
    session.make_prefix(session.start_xvfb())
    session.start_journal()
    run_windows_program(session, [setup, "/S"])
    install = Install(session)
    command = check_installed(session, checks, install)

    session.app = install.unix(install.folder)
    session.write_service_files()
    settings = open(os.path.join(session.app, "settings.dat"), "rb").read()
    session.start_program()
    check_update(session, checks)
    uninstall(session, checks, install, command, SETTINGS_FILES)
    try:
        status = session.program.wait(30)
    except subprocess.TimeoutExpired:
        status = None
    checks.report(status == 0, "the uninstaller ended the running program as \"Exit\" does",
                  "status %s" % status)

    run_windows_program(session, [setup, "/S"])
    kept = open(os.path.join(session.app, "settings.dat"), "rb").read()
    checks.report(install.files() == PROGRAM_FILES | SETTINGS_FILES and kept == settings,
                  "installing again keeps the kept settings", repr(install.files()))
    uninstall(session, checks, install, command, set())


def main():
    if len(sys.argv) != 2 or not os.path.isfile(sys.argv[1]):
        sys.exit(__doc__.split("\n\n")[1])
    setup = os.path.abspath(sys.argv[1])
    return run_session(setup, None, lambda session, checks: run_checks(session, checks, setup))


if __name__ == "__main__":
    sys.exit(main())
