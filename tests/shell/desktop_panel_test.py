#!/usr/bin/env python3
"""zarnik-viewer in a real panel: Xvfb, a private session bus, xfconfd and xfce4-panel with its
notification area, then the program; the icon is found on the screen, clicked, the open menu
saved as a screenshot, and "Update" chosen in it.

    tests/shell/desktop_panel_test.py PATH_TO_ZARNIK_VIEWER FAKE_JOURNAL_DIR SCREENSHOT.png
"""
import glob
import os
import select
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnik_viewer_test as program_test  # noqa: E402

SCREENSHOT = None
WAIT = program_test.WAIT
WIDTH, HEIGHT, PANEL_HEIGHT = 800, 600, 32
XFCONFD = sorted(glob.glob("/usr/lib/*/xfce4/xfconf/xfconfd"))
MISSING = [tool for tool in ("Xvfb", "dbus-daemon", "xfce4-panel", "xdotool", "import", "convert",
                             "dbus-send") if shutil.which(tool) is None] + \
          ([] if XFCONFD else ["xfconfd (package xfconf)"])

# The session bus of the test alone: nothing is activated, everyone may talk to everyone.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

# One panel along the top of the screen holding the notification area alone, which shows the
# StatusNotifierItems and is their watcher.
PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="%d"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
""" % PANEL_HEIGHT


class Screen:
    """The pixels of a part of the X screen, read through ImageMagick as RGB bytes."""

    def __init__(self, env, width, height):
        shot = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+0+0" % (width, height),
                               "-depth", "8", "rgb:-"], env=env, capture_output=True,
                              timeout=WAIT, check=True)
        self.width, self.height, self.pixels = width, height, shot.stdout

    def changed_box(self, earlier):
        """(left, top, right, bottom) around every pixel that differs from `earlier`, or None."""
        xs, ys = [], []
        for y in range(self.height):
            row = slice(y * self.width * 3, (y + 1) * self.width * 3)
            if self.pixels[row] == earlier.pixels[row]:
                continue
            for x in range(self.width):
                at = (y * self.width + x) * 3
                if self.pixels[at:at + 3] != earlier.pixels[at:at + 3]:
                    xs.append(x)
                    ys.append(y)
        return (min(xs), min(ys), max(xs), max(ys)) if xs else None


@unittest.skipIf(MISSING, "not installed: %s" % ", ".join(MISSING))
class DesktopPanelTest(program_test.ProgramInFolder):
    def setUp(self):
        super().setUp()
        config = os.path.join(self.env["XDG_CONFIG_HOME"], "xfce4", "xfconf",
                              "xfce-perchannel-xml")
        os.makedirs(config)
        with open(os.path.join(config, "xfce4-panel.xml"), "w") as panel:
            panel.write(PANEL_CONFIG)
        self.env.update(DISPLAY=self.start_xvfb(), DBUS_SESSION_BUS_ADDRESS=self.start_bus(),
                        XDG_CONFIG_DIRS=os.path.join(self.scratch, "no-system-config"),
                        XDG_DATA_HOME=os.path.join(self.scratch, "data"), NO_AT_BRIDGE="1",
                        ZARNIK_VIEWER_FRONT_END="desktop")
        self.env.pop("SESSION_MANAGER", None)
        self.start_server([XFCONFD[0]], "xfconfd")
        self.wait_for_bus_name("org.xfce.Xfconf")
        self.start_server(["xfce4-panel", "--disable-wm-check"], "panel")
        self.wait_for_bus_name("org.kde.StatusNotifierWatcher")

    def log(self, name):
        log = open(os.path.join(self.scratch, name + ".log"), "wb")
        self.addCleanup(log.close)
        return log

    def start_server(self, command, name, **streams):
        streams.setdefault("stdout", self.log(name))
        server = subprocess.Popen(command, cwd=self.scratch, env=self.env,
                                  stdin=subprocess.DEVNULL, stderr=subprocess.STDOUT, **streams)
        self.addCleanup(self.stop_server, server)
        return server

    def stop_server(self, server):
        """Asks `server` to end, so that it clears up after itself (Xvfb its socket), and kills
        it if it does not."""
        if server.poll() is None:
            server.terminate()
            try:
                server.wait(timeout=program_test.STOP_WAIT)
            except subprocess.TimeoutExpired:
                pass
        self.stop_process(server)

    def first_line(self, server, fd, what):
        """The first line `server` writes to `fd` (it writes it at once, when ready)."""
        ready, _, _ = select.select([fd], [], [], WAIT)
        self.assertTrue(ready, "%s gave nothing within %d s" % (what, WAIT))
        line = os.read(fd, 4096)
        self.assertIsNone(server.poll(), "%s ended at start-up" % what)
        return line.decode().split("\n")[0]

    def start_xvfb(self):
        """Starts Xvfb on a display it finds free and returns the display's name."""
        reading, writing = os.pipe()
        self.addCleanup(os.close, reading)
        try:
            xvfb = self.start_server(["Xvfb", "-displayfd", str(writing), "-screen", "0",
                                      "%dx%dx24" % (WIDTH, HEIGHT), "-nolisten", "tcp"],
                                     "xvfb", pass_fds=(writing,))
        finally:
            os.close(writing)
        return ":" + self.first_line(xvfb, reading, "Xvfb")

    def start_bus(self):
        config = os.path.join(self.scratch, "bus.conf")
        with open(config, "w") as written:
            written.write(BUS_CONFIG % os.path.join(self.scratch, "bus"))
        bus = self.start_server(["dbus-daemon", "--config-file=" + config, "--print-address",
                                 "--nofork"], "dbus-daemon", stdout=subprocess.PIPE)
        self.addCleanup(bus.stdout.close)
        return self.first_line(bus, bus.stdout.fileno(), "dbus-daemon")

    def bus_call(self, destination, path, method, *arguments):
        return subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=" + destination,
                               path, method] + list(arguments), env=self.env,
                              capture_output=True, text=True, timeout=WAIT).stdout

    def wait_for_bus_name(self, name):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            names = self.bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus.ListNames")
            if '"%s"' % name in names:
                return
            time.sleep(0.1)
        self.fail("%s was not on the bus within %d s" % (name, WAIT))

    def wait_for_change(self, earlier, width, height, what):
        """The box of what changed on the screen since `earlier`, once it stays the same for a
        moment (the panel and the menu draw in a few steps)."""
        deadline = time.monotonic() + WAIT
        box = None
        while time.monotonic() < deadline:
            time.sleep(0.3)
            now = Screen(self.env, width, height).changed_box(earlier)
            if now is not None and now == box:
                return box
            box = now
        self.fail("%s did not show within %d s" % (what, WAIT))

    def click(self, x, y):
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "sleep", "0.2", "click", "1"],
                       env=self.env, timeout=WAIT, check=True)

    def test_the_menu_opens_from_the_icon_in_the_panel_and_update_serves_the_feed(self):
        empty_panel = Screen(self.env, WIDTH, PANEL_HEIGHT)
        process = self.start_program()
        left, top, right, bottom = self.wait_for_change(empty_panel, WIDTH, PANEL_HEIGHT,
                                                        "the program's icon in the panel")
        self.assertLessEqual(right - left, 2 * PANEL_HEIGHT, "more than one icon has appeared")

        without_menu = Screen(self.env, WIDTH, HEIGHT)
        self.click((left + right) // 2, (top + bottom) // 2)
        menu = self.wait_for_change(without_menu, WIDTH, HEIGHT, "the menu")
        menu_left, menu_top, menu_right, menu_bottom = menu
        self.assertGreater(menu_bottom, PANEL_HEIGHT, "the menu did not open below the panel")
        # The first of the menu's four items is "Update": the pointer rests on it for the picture.
        update = ((menu_left + menu_right) // 2, max(menu_top, PANEL_HEIGHT) +
                  (menu_bottom - max(menu_top, PANEL_HEIGHT)) // 8)
        subprocess.run(["xdotool", "mousemove", str(update[0]), str(update[1])], env=self.env,
                       timeout=WAIT, check=True)
        time.sleep(0.5)
        os.makedirs(os.path.dirname(SCREENSHOT), exist_ok=True)
        subprocess.run(["import", "-window", "root", SCREENSHOT], env=self.env, timeout=WAIT,
                       check=True)

        self.assertEqual(program_test.http_get(self.port, "/all.xml")[0], 404)
        self.click(*update)
        self.assert_merged_feed(self.wait_for_feed(process))

        # "Exit", the last item and never greyed, ends the program.
        without_menu = Screen(self.env, WIDTH, HEIGHT)
        self.click((left + right) // 2, (top + bottom) // 2)
        menu_bottom = self.wait_for_change(without_menu, WIDTH, HEIGHT, "the menu again")[3]
        self.click(update[0], menu_bottom - (menu_bottom - max(menu_top, PANEL_HEIGHT)) // 8)
        self.assertEqual(process.wait(timeout=WAIT), 0)


if __name__ == "__main__":
    program_test.PROGRAM = os.path.abspath(sys.argv.pop(1))
    program_test.FAKE_JOURNAL = os.path.abspath(sys.argv.pop(1))
    SCREENSHOT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
