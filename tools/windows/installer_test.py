#!/usr/bin/env python3
"""Installs, runs and uninstalls the Windows program with its installer, under Wine.

Usage: installer_test.py PATH_TO_ZARNIK_VIEWER_SETUP_EXE

In a fresh Wine prefix on a virtual X display: installs silently, checks the folder, the
Start-menu shortcut, the Uninstall key and the version the program carries; starts the installed
program against the bundled fake journal service and fetches "all.xml" after an update (as
gui_test.py does); sets the "Zarnik Viewer" Run value; uninstalls silently with /KEEPSETTINGS
while the program runs, which must end it and keep only the settings; installs again over the
kept settings; uninstalls silently again, which must leave nothing of ours. Every wait is
bounded; Xvfb and every Wine process are stopped at the end. Exits non-zero when a check fails.
"""

import os
import re
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gui_test import Checks, Failure, Session, check_update, read_run_value  # noqa: E402

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZarnikViewer"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
PROGRAM_FILES = {"zarnik-viewer.exe", "about.html", "uninstall.exe"}
SETTINGS_FILES = {"settings.dat", "service.conf"}


class Install:
    """Where the installer puts things in this prefix, as Windows and as Linux paths."""

    def __init__(self, session):
        out = session.run(["wine", "cmd", "/c", "echo %LOCALAPPDATA%&echo %APPDATA%"],
                          timeout=60).stdout.decode(errors="replace").splitlines()
        local, roaming = out[0].strip(), out[1].strip()
        self.folder = local + r"\Programs\Zarnik Viewer"
        self.program = self.folder + r"\zarnik-viewer.exe"
        self.shortcut = roaming + r"\Microsoft\Windows\Start Menu\Programs\Zarnik Viewer.lnk"
        drive_c = os.path.join(session.env["WINEPREFIX"], "drive_c")
        self.unix = lambda path: os.path.join(drive_c, *path[3:].split("\\"))

    def files(self):
        folder = self.unix(self.folder)
        return set(os.listdir(folder)) if os.path.isdir(folder) else None


def registry_values(session, key):
    """The values of a registry key as {name: text}, or None when there is no such key."""
    result = session.run(["wine", "reg", "query", key], timeout=60, check=False)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.decode(errors="replace").splitlines():
        parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2]
    return values


def run_until_wine_is_idle(session, args, what):
    """Runs a Windows program, then waits until every Wine process has ended (the uninstaller
    runs on as a copy of itself after the first process returns)."""
    status = session.run(["wine"] + args, timeout=120, check=False).returncode
    if status != 0:
        raise Failure("%s ended with status %d" % (what, status))
    session.wineserver("-w")


def check_installed(session, checks, install, setup):
    files = install.files()
    checks.report(files == PROGRAM_FILES, "the program, its About page and the uninstaller are "
                  "in " + install.folder, repr(files))
    program = open(install.unix(install.program), "rb").read()
    text = program.decode("utf-16-le", errors="ignore")
    version = re.search("ProductVersion\0+([0-9.]+)", text)
    version = version.group(1) if version else None
    named = re.search("ProductName\0+Zarnik Viewer\0", text)
    checks.report(bool(named and version),
                  "the program carries its product name and version", "version %s" % version)
    checks.report(len(program) < 3 * 1024 * 1024, "the installed program is stripped",
                  "%d bytes; installer %d bytes" % (len(program), os.path.getsize(setup)))

    try:
        link = open(install.unix(install.shortcut), "rb").read()
    except OSError:
        link = b""
    target = install.program.encode()
    checks.report(target in link or target.decode().encode("utf-16-le") in link,
                  "the Start-menu shortcut starts the installed program", install.shortcut)

    values = registry_values(session, UNINSTALL_KEY) or {}
    expected = {
        "DisplayName": "Zarnik Viewer",
        "DisplayIcon": install.program + ",0",
        "DisplayVersion": version,
        "InstallLocation": install.folder,
        "UninstallString": '"%s\\uninstall.exe"' % install.folder,
        "QuietUninstallString": '"%s\\uninstall.exe" /S' % install.folder,
        "NoModify": "0x1",
        "NoRepair": "0x1",
    }
    wrong = {name: values.get(name) for name, want in expected.items() if values.get(name) != want}
    size = int(values.get("EstimatedSize", "0"), 16)
    on_disk = sum(os.path.getsize(os.path.join(install.unix(install.folder), name))
                  for name in PROGRAM_FILES) // 1024
    checks.report(not wrong and abs(size - on_disk) <= 8,
                  "the Uninstall key names, sizes and removes the program",
                  "wrong: %r; EstimatedSize %d KB, files %d KB" % (wrong, size, on_disk))
    return values.get("QuietUninstallString", "")


def check_left_behind(session, checks, install, stage, kept):
    """After an uninstall: only the kept files may be left in the folder (no folder when none),
    and no shortcut, Uninstall key or Run value."""
    files = install.files()
    checks.report(files == (kept or None), stage + ": " +
                  ("the folder holds only " + ", ".join(sorted(kept)) if kept else
                   "the folder is gone"), repr(files))
    left = [name for name, there in (
        ("shortcut", os.path.exists(install.unix(install.shortcut))),
        ("Uninstall key", registry_values(session, UNINSTALL_KEY) is not None),
        ("Run value", read_run_value(session) is not None)) if there]
    checks.report(not left, stage + ": no shortcut, Uninstall key or Run value is left",
                  ", ".join(left))


def uninstall(session, quiet_command, *extra):
    match = re.match(r'"([^"]+)"\s*(.*)$', quiet_command)
    if not match:
        raise Failure("no quiet uninstall command: %r" % quiet_command)
    run_until_wine_is_idle(session, [match.group(1)] + match.group(2).split() + list(extra),
                           "the uninstaller")


def set_run_value(session, install):
    session.run(["wine", "reg", "add", RUN_KEY, "/v", "Zarnik Viewer", "/d",
                 '"%s"' % install.program, "/f"], timeout=60)


def run_checks(session, checks, setup):
    display = session.start_xvfb()
    session.make_prefix(display)
    checks.note("fresh Wine prefix on display %s" % display)
    session.start_journal()

    run_until_wine_is_idle(session, [setup, "/S"], "the silent install")
    install = Install(session)
    quiet_command = check_installed(session, checks, install, setup)

    session.app = install.unix(install.folder)
    session.write_service_files()
    settings = open(os.path.join(session.app, "settings.dat"), "rb").read()
    session.start_program()
    check_update(session, checks)
    set_run_value(session, install)

    uninstall(session, quiet_command, "/KEEPSETTINGS")
    try:
        status = session.program.wait(30)
    except subprocess.TimeoutExpired:
        status = None
    checks.report(status == 0, "the uninstaller ends the running program as \"Exit\" does",
                  "status %s" % status)
    check_left_behind(session, checks, install, "uninstalled with /KEEPSETTINGS", SETTINGS_FILES)

    run_until_wine_is_idle(session, [setup, "/S"], "the second silent install")
    files = install.files()
    kept = open(os.path.join(session.app, "settings.dat"), "rb").read()
    checks.report(files == PROGRAM_FILES | SETTINGS_FILES and kept == settings,
                  "installing again keeps the kept settings", repr(files))
    set_run_value(session, install)
    uninstall(session, quiet_command)
    check_left_behind(session, checks, install, "uninstalled silently", set())


def main():
    if len(sys.argv) != 2 or not os.path.isfile(sys.argv[1]):
        sys.exit(__doc__.split("\n\n")[1])
    setup = os.path.abspath(sys.argv[1])
    # A CI time limit or Ctrl-C still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit("stopped by signal %d" % number))

    checks = Checks()
    session = Session(setup, None)
    try:
        run_checks(session, checks, setup)
    except Failure as error:
        checks.report(False, "run", str(error))
        session.show_logs()
    finally:
        session.stop()
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
