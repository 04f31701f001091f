#!/usr/bin/env python3
"""Drives the Windows program's user interface under Wine on a virtual X display.

Usage: gui_test.py PATH_TO_ZARNIK_VIEWER_EXE [--screenshots DIR]

The program runs from a scratch folder with a "service.conf" that points every host of the
journal service at the bundled fake service on 127.0.0.1, and a "settings.dat" for the sample
user abc. Through its tray icon (right-click in Wine's own tray window, found by name) the test
asks for an update and reads the merged feed over HTTP, starts a second copy (which must end at
once), fills in the settings dialog and checks what it leaves behind (settings.dat, the Run
value, the clipboard), and ends the program with "Exit". Every wait is bounded; Xvfb and every
Wine process are stopped at the end, also on failure. Exits non-zero when any check fails.
"""

import argparse
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FAKE_JOURNAL = os.path.join(ROOT, "tools", "fake_journal", "fake_journal.py")
FAKE_JOURNAL_DATA = os.path.join(ROOT, "tools", "fake_journal", "sample")

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"

# The menu reads, from top to bottom: Update, Settings..., About..., Exit.
MENU_ITEMS = ["Update", "Settings...", "About...", "Exit"]

# The settings dialog in dialog units (its template), with the centre points clicked below.
DIALOG_SIZE = (190, 118)
USER_EDIT = (87 + 96 // 2, 15 + 14 // 2)
PASSWORD_EDIT = (87 + 95 // 2, 38 + 14 // 2)
AUTOSTART_BOX = (71 + 6, 62 + 10 // 2)  # the box itself sits at the control's left edge
COPY_BUTTON = (7 + 176 // 2, 76 + 14 // 2)
OK_BUTTON = (7 + 80 // 2, 94 + 14 // 2)
CANCEL_BUTTON = (95 + 88 // 2, 94 + 14 // 2)

# Ten characters, so that the user name's length byte is an LF and is stored as CR LF.
NEW_USER = "night_user"
NEW_PASSWORD = "pa55word"
INTERVAL = 600


class Failure(Exception):
    pass


class Checks:
    """Prints every check as it is made and remembers whether any failed."""

    def __init__(self):
        self.failed = []
        self.started = time.monotonic()

    def report(self, ok, what, detail=""):
        elapsed = time.monotonic() - self.started
        line = "%s  %6.1fs  %s" % ("PASS" if ok else "FAIL", elapsed, what)
        if detail:
            line += ": " + detail
        print(line, flush=True)
        if not ok:
            self.failed.append(what)
        return ok

    def note(self, text):
        print("      %6.1fs  %s" % (time.monotonic() - self.started, text), flush=True)

    def summary(self):
        """Prints the outcome; returns the exit status, 1 when any check failed."""
        total = time.monotonic() - self.started
        if self.failed:
            print("%d check(s) failed in %.1f s: %s" % (len(self.failed), total,
                                                        "; ".join(self.failed)))
            return 1
        print("All checks passed in %.1f s." % total)
        return 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, interval=0.2):
    """Calls predicate until it returns something true or the timeout passes; returns the last
    value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class Session:
    def __init__(self, exe, screenshots):
        self.exe = exe
        self.screenshots = screenshots
        self.work = tempfile.mkdtemp(prefix="zarnik-wine-gui.")
        self.xvfb = None
        self.journal = None
        self.program = None
        self.env = None
        self.journal_port = None
        self.server_port = None
        self.app = os.path.join(self.work, "app")

    # -- running programs -------------------------------------------------------------------

    def run(self, args, timeout, check=True, env=None):
        try:
            result = subprocess.run(args, env=env or self.env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not finish within %d s" % (args[0], timeout))
        if check and result.returncode != 0:
            raise Failure("%s ended with status %d: %s" %
                          (" ".join(args), result.returncode,
                           result.stderr.decode(errors="replace").strip()))
        return result

    def xdotool(self, *args, timeout=10, check=True):
        return self.run(["xdotool"] + list(args), timeout, check).stdout.decode().strip()

    # -- setting up ---------------------------------------------------------------------------

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.work, "xvfb.log"), "wb"))
        os.close(write_end)
        text = b""
        deadline = time.monotonic() + 20
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 64)
                if not chunk:
                    break
                text += chunk
        os.close(read_end)
        if not text.strip().isdigit():
            raise Failure("Xvfb did not report a display within 20 s")
        return ":" + text.strip().decode()

    def make_prefix(self, display):
        env = dict(os.environ)
        env.update({
            "DISPLAY": display,
            "WINEPREFIX": os.path.join(self.work, "prefix"),
            "WINEDEBUG": "-all",
            # No Mono or Gecko prompts, and no menu entries or links outside the prefix.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "WINEARCH": "win64",
        })
        env.pop("WAYLAND_DISPLAY", None)
        self.env = env
        self.run(["wineboot", "-i"], timeout=180)

    def start_journal(self):
        out_path = os.path.join(self.work, "journal.out")
        self.journal = subprocess.Popen(
            [sys.executable, FAKE_JOURNAL, FAKE_JOURNAL_DATA, "--log",
             os.path.join(self.work, "requests.log")],
            stdin=subprocess.DEVNULL, stdout=open(out_path, "wb"),
            stderr=open(os.path.join(self.work, "journal.err"), "wb"))

        def port():
            try:
                match = re.search(r"^PORT (\d+)$", open(out_path).read(), re.M)
            except OSError:
                return None
            return int(match.group(1)) if match else None

        self.journal_port = wait_until(port, 15, 0.1)
        if not self.journal_port:
            raise Failure("the fake journal service did not report its port within 15 s")

    def make_app_folder(self):
        os.mkdir(self.app)
        shutil.copy(self.exe, os.path.join(self.app, "zarnik-viewer.exe"))
        about = os.path.join(os.path.dirname(self.exe), "about.html")
        if os.path.exists(about):
            shutil.copy(about, self.app)
        self.write_service_files()

    def write_service_files(self):
        """Puts a service.conf for the fake journal service and a settings.dat for the sample
        user abc beside the program in self.app, and picks the program's port."""
        self.server_port = free_port()
        with open(os.path.join(self.app, "service.conf"), "w") as conf:
            conf.write("site = http://www.zarnik.test:%d\n" % self.journal_port)
            conf.write("journal_domain = zarnik.test:%d\n" % self.journal_port)
            conf.write("users_host = users.zarnik.test:%d\n" % self.journal_port)
            conf.write("resolve = *.zarnik.test 127.0.0.1\n")
            conf.write("server_port = %d\n" % self.server_port)
        with open(os.path.join(self.app, "settings.dat"), "wb") as data:
            data.write(settings_bytes("abc", "secret", INTERVAL))

    def start_program(self):
        self.program = subprocess.Popen(
            ["wine", os.path.join(self.app, "zarnik-viewer.exe")], cwd=self.app, env=self.env,
            stdin=subprocess.DEVNULL, stdout=open(os.path.join(self.work, "program.out"), "wb"),
            stderr=open(os.path.join(self.work, "program.err"), "wb"))

        def listening():
            if self.program.poll() is not None:
                raise Failure("the program ended at start with status %d (it ends so, silently, "
                              "when it cannot make its window or listen)" %
                              self.program.returncode)
            try:
                socket.create_connection(("127.0.0.1", self.server_port), timeout=1).close()
                return True
            except OSError:
                return False

        if not wait_until(listening, 60):
            raise Failure("the program did not listen on port %d within 60 s" % self.server_port)

    # -- windows ------------------------------------------------------------------------------

    def visible_windows(self, name=None):
        args = ["search", "--onlyvisible"]
        args += ["--name", name] if name else ["--name", ""]
        out = self.xdotool(*args, check=False)
        return [int(w) for w in out.split()]

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def tray_window(self, timeout=30):
        found = wait_until(lambda: self.visible_windows("^Wine System Tray$"), timeout, 0.3)
        if not found:
            raise Failure("no visible \"Wine System Tray\" window within %d s" % timeout)
        return found[0]

    def click(self, x, y, button=1):
        self.xdotool("mousemove", "--sync", str(x), str(y))
        self.xdotool("click", str(button))

    def open_menu(self):
        """Right-clicks the program's icon in Wine's tray; returns the popup menu's geometry."""
        tray = self.tray_window()
        x, y, width, height = self.geometry(tray)
        before = set(self.visible_windows())
        # The program's icon is the only one, in the first square of the tray.
        side = min(width, height)
        self.click(x + side // 2, y + height // 2, button=3)

        def menu():
            new = [w for w in self.visible_windows() if w not in before]
            return new[-1] if new else None

        window = wait_until(menu, 10, 0.1)
        if not window:
            raise Failure("right-clicking the tray icon showed no menu within 10 s")
        time.sleep(0.3)  # the menu paints after it is mapped
        return self.geometry(window)

    def choose(self, menu, item):
        x, y, width, height = menu
        index = MENU_ITEMS.index(item)
        # Four items of equal height between a thin frame.
        self.click(x + width // 2, y + height * (2 * index + 1) // (2 * len(MENU_ITEMS)))

    def clipboard(self):
        result = self.run(["xclip", "-o", "-selection", "clipboard"], timeout=10, check=False)
        return result.stdout.decode(errors="replace") if result.returncode == 0 else ""

    def screenshot(self, name):
        if not self.screenshots:
            return None
        os.makedirs(self.screenshots, exist_ok=True)
        path = os.path.join(self.screenshots, name)
        self.run(["import", "-window", "root", path], timeout=30)
        return path

    # -- tearing down -------------------------------------------------------------------------

    def show_logs(self):
        for name in ("program.out", "program.err", "journal.err"):
            try:
                text = open(os.path.join(self.work, name), errors="replace").read().strip()
            except OSError:
                continue
            if text:
                print("--- %s (last lines)\n%s" % (name, "\n".join(text.splitlines()[-15:])))

    def wineserver(self, option):
        """Runs `wineserver option` (-k: kill every Wine process, -w: wait until they are gone)."""
        if not self.env:
            return
        try:
            subprocess.run(["wineserver", option], env=self.env, timeout=30,
                           stdin=subprocess.DEVNULL, capture_output=True)
        except subprocess.TimeoutExpired:
            pass

    def stop(self):
        self.wineserver("-k")
        for process in (self.program, self.journal, self.xvfb):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(10)
        self.wineserver("-w")
        shutil.rmtree(self.work, ignore_errors=True)


def settings_bytes(user, password, interval):
    user, password = user.encode(), password.encode()
    hidden = bytes((byte + 10) % 256 for byte in password)
    layout = (struct.pack("<I", len(user)) + user + struct.pack("<I", len(hidden)) + hidden +
              struct.pack("<i", interval))
    return layout.replace(b"\n", b"\r\n")


def check_update(session, checks):
    menu = session.open_menu()
    shot = session.screenshot("tray-menu.png")
    checks.report(True, "right-click on the tray icon opens the menu",
                  "menu at %d,%d size %dx%d%s" % (menu + ((", " + shot) if shot else "",)))
    session.choose(menu, "Update")
    url = "http://127.0.0.1:%d/all.xml" % session.server_port

    def fetch():
        try:
            with urllib.request.urlopen(url, timeout=10) as response:
                return response.read()
        except (urllib.error.URLError, OSError):
            return None

    body = wait_until(fetch, 90, 0.5)
    if not checks.report(body is not None, "\"Update\" then all.xml served", url):
        return
    try:
        channel = ET.fromstring(body).find("channel")
        titles = [item.findtext("title") or "" for item in channel.findall("item")]
    except (ET.ParseError, AttributeError) as error:
        checks.report(False, "all.xml is well-formed", str(error))
        return
    expected = [
        "[night_owl] Stars over the river", "[night_owl] Back to work",
        "[night_owl] Only for friends", "[_carol] Party plans", "[_carol] Snow day",
        "[dora] Hill fort", "[eddie] Flat tyre", "[fern] Seedlings", "[fern] Just for me"
    ]
    missing = [title for title in expected if title not in titles]
    checks.report(not missing, "all.xml holds the friends' entries, friends-only ones included",
                  ("missing %s; " % missing if missing else "") + "%d items" % len(titles))


def check_second_copy(session, checks):
    """A second copy cannot listen on the port the first one holds: it ends at once, silently,
    with status 0, and the first one goes on serving."""
    second = subprocess.Popen(
        ["wine", os.path.join(session.app, "zarnik-viewer.exe")], cwd=session.app,
        env=session.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    try:
        status = second.wait(30)
    except subprocess.TimeoutExpired:
        second.kill()
        second.wait(10)
        status = None
    checks.report(status == 0, "a second copy ends at once with status 0", "status %s" % status)
    url = "http://127.0.0.1:%d/all.xml" % session.server_port
    try:
        with urllib.request.urlopen(url, timeout=10) as response:
            served = response.status == 200
    except (urllib.error.URLError, OSError):
        served = False
    checks.report(served and session.program.poll() is None,
                  "the first copy still runs and serves all.xml", url)


def open_settings(session, checks):
    """Opens the settings dialog from the tray menu; returns a function that maps a point in
    dialog units to the screen, or None when no dialog appeared."""
    # The update may still be finishing after all.xml is written, with "Settings..." greyed; the
    # menu is built anew at every right-click, so a click outside closes it and we try again.
    found = None
    for _ in range(3):
        menu = session.open_menu()
        session.choose(menu, "Settings...")
        found = wait_until(lambda: session.visible_windows("^Settings$"), 5, 0.2)
        if found:
            break
        session.click(1000, 740)
    if not checks.report(bool(found), "\"Settings...\" opens the dialog"):
        return None
    time.sleep(0.5)
    x, y, width, height = session.geometry(found[0])
    # Without a window manager Wine leaves the caption and frame undrawn: the X window is the
    # dialog's client area, 190 x 118 dialog units, so its size gives the pixels per unit.
    unit_x, unit_y = width / DIALOG_SIZE[0], height / DIALOG_SIZE[1]
    checks.note("dialog window at %d,%d size %dx%d (%.2f x %.2f pixels per dialog unit)" %
                (x, y, width, height, unit_x, unit_y))
    return lambda point: (x + round(point[0] * unit_x), y + round(point[1] * unit_y))


def check_user_name_shown(session, checks, at, expected):
    """Selects the user name box's text and copies it out with the edit control's own Ctrl+C;
    typing afterwards replaces the selection."""
    session.click(*at(USER_EDIT))
    session.xdotool("key", "--delay", "50", "End", "shift+Home", "ctrl+c")
    shown = wait_until(lambda: session.clipboard() == expected and expected, 5, 0.3) or \
        session.clipboard()
    checks.report(shown == expected, "the dialog shows the stored user name", repr(shown))


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


def read_run_value(session):
    return (registry_values(session, RUN_KEY) or {}).get("Zarnik Viewer")


def check_settings(session, checks):
    at = open_settings(session, checks)
    if not at:
        return
    check_user_name_shown(session, checks, at, "abc")
    session.xdotool("type", "--delay", "30", NEW_USER)
    # The password box hides its text and refuses to copy it; empty it key by key.
    session.click(*at(PASSWORD_EDIT))
    session.xdotool("key", "--delay", "20", "End", *(["BackSpace"] * 20))
    session.xdotool("type", "--delay", "30", NEW_PASSWORD)
    session.click(*at(AUTOSTART_BOX))
    session.click(*at(COPY_BUTTON))
    time.sleep(0.5)
    shot = session.screenshot("settings-dialog.png")
    if shot:
        checks.note("screenshot " + shot)

    feed = "http://localhost:%d/all.xml" % session.server_port

    text = wait_until(lambda: session.clipboard() == feed and feed, 10, 0.5) or \
        session.clipboard()
    checks.report(text == feed, "the copy button puts the feed address on the clipboard",
                  repr(text))

    session.click(*at(OK_BUTTON))
    closed = wait_until(lambda: not session.visible_windows("^Settings$"), 10, 0.2)
    checks.report(closed, "OK closes the dialog")

    path = os.path.join(session.app, "settings.dat")
    want = settings_bytes(NEW_USER, NEW_PASSWORD, INTERVAL)

    def saved():
        try:
            return open(path, "rb").read() == want
        except OSError:
            return False

    wait_until(saved, 10, 0.2)
    have = open(path, "rb").read() if os.path.exists(path) else b""
    checks.report(have == want, "settings.dat holds the exact bytes",
                  "have %s, want %s" % (have.hex(), want.hex()) if have != want else have.hex())

    program_path = session.run(["winepath", "-w", os.path.join(session.app, "zarnik-viewer.exe")],
                               timeout=60).stdout.decode().strip()
    value = read_run_value(session)
    checks.report(value == '"%s"' % program_path,
                  "the Run value \"Zarnik Viewer\" holds the quoted program path", repr(value))


def check_cancel(session, checks):
    """Cancel after editing drops the edits: settings.dat and the Run value stay as OK left
    them."""
    at = open_settings(session, checks)
    if not at:
        return
    path = os.path.join(session.app, "settings.dat")
    before = (open(path, "rb").read(), read_run_value(session))
    check_user_name_shown(session, checks, at, NEW_USER)
    session.xdotool("type", "--delay", "30", "somebody")
    session.click(*at(AUTOSTART_BOX))
    session.click(*at(CANCEL_BUTTON))
    closed = wait_until(lambda: not session.visible_windows("^Settings$"), 10, 0.2)
    checks.report(closed, "Cancel closes the dialog")
    time.sleep(1)
    after = (open(path, "rb").read(), read_run_value(session))
    checks.report(after == before, "Cancel leaves settings.dat and the Run value unchanged",
                  "" if after == before else "before %r, after %r" % (before, after))


def check_exit(session, checks):
    menu = session.open_menu()
    session.choose(menu, "Exit")
    try:
        status = session.program.wait(30)
    except subprocess.TimeoutExpired:
        status = None
    checks.report(status == 0, "\"Exit\" ends the program with status 0", "status %s" % status)
    gone = wait_until(lambda: not session.visible_windows("^Wine System Tray$"), 10, 0.2)
    checks.report(gone, "the tray icon is gone after \"Exit\"")


def run_session(exe, screenshots, body):
    """Runs body(session, checks) in a new Session, then stops everything the session started,
    also on failure or SIGTERM; returns the exit status."""
    # A CI time limit or Ctrl-C still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit("stopped by signal %d" % number))

    checks = Checks()
    session = Session(exe, screenshots)
    try:
        body(session, checks)
    except Failure as error:
        checks.report(False, "run", str(error))
        session.show_logs()
    finally:
        session.stop()
    return checks.summary()


def run_checks(session, checks):
    display = session.start_xvfb()
    checks.note("Xvfb on display %s" % display)
    session.make_prefix(display)
    checks.note("Wine prefix ready")
    session.start_journal()
    session.make_app_folder()
    session.start_program()
    checks.report(True, "the program starts and listens", "port %d, journal service on %d" %
                  (session.server_port, session.journal_port))
    check_update(session, checks)
    check_second_copy(session, checks)
    check_settings(session, checks)
    check_cancel(session, checks)
    check_exit(session, checks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--screenshots", metavar="DIR")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    screenshots = os.path.abspath(args.screenshots) if args.screenshots else None
    if not os.path.isfile(exe):
        sys.exit("no such program: %s" % exe)

    return run_session(exe, screenshots, run_checks)


if __name__ == "__main__":
    sys.exit(main())
