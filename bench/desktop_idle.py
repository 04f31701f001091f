#!/usr/bin/env python3
"""What zarnik-viewer costs while nothing happens, with its tray in a real panel (xfce4-panel
under Xvfb on a private bus, as tests/shell/desktop_panel_test.py sets it up) and, for
comparison, with no front end at all: CPU clock ticks (utime + stime of every thread) and
wake-ups (voluntary context switches) over IDLE seconds, then the resident memory and the
number of threads.

    bench/desktop_idle.py [PATH_TO_ZARNIK_VIEWER]    (default: build/shell/zarnik-viewer)

IDLE (seconds, default 60) is how long each program is left alone. Needs what the test needs:
Xvfb, dbus-daemon, xfconf, xfce4-panel, xdotool and ImageMagick.
"""
import os
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "shell"))
import desktop_panel_test  # noqa: E402
import zarnik_viewer_test as program_test  # noqa: E402

IDLE = float(os.environ.get("IDLE", "60"))


def memory_and_threads(pid):
    with open("/proc/%d/status" % pid) as status:
        fields = dict(line.split(":", 1) for line in status)
    return fields["VmRSS"].strip(), int(fields["Threads"])


def measure(case, front_end):
    """Starts the program with `front_end`, waits until it has settled, leaves it alone for
    IDLE seconds and prints what it did meanwhile."""
    case.env["ZARNIK_VIEWER_FRONT_END"] = front_end
    empty_panel = desktop_panel_test.Screen(case.env, desktop_panel_test.WIDTH,
                                            desktop_panel_test.PANEL_HEIGHT)
    process = case.start_program()
    if front_end == "desktop":
        case.wait_for_change(empty_panel, desktop_panel_test.WIDTH,
                             desktop_panel_test.PANEL_HEIGHT, "the icon")
    time.sleep(2)
    before = program_test.Activity(process.pid)
    time.sleep(IDLE)
    after = program_test.Activity(process.pid)
    rss, threads = memory_and_threads(process.pid)
    wakeups = sum(count - before.sleeps.get(thread, 0) for thread, count in after.sleeps.items())
    print("front end %-8s idle %3.0f s: %d clock ticks (of %d per s), %d wake-ups in %d of %d "
          "threads; VmRSS %s" % (front_end, IDLE, after.ticks_since(before),
                                 os.sysconf("SC_CLK_TCK"), wakeups,
                                 len(after.threads_active_since(before)), threads, rss))
    sys.stdout.flush()
    process.terminate()
    process.wait(timeout=program_test.WAIT)


def main():
    program_test.PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                                           os.path.join(root, "build", "shell", "zarnik-viewer"))
    program_test.FAKE_JOURNAL = os.path.join(root, "tools", "fake_journal")
    if desktop_panel_test.MISSING:
        sys.exit("not installed: " + ", ".join(desktop_panel_test.MISSING))
    case = desktop_panel_test.DesktopPanelTest(
        "test_the_menu_opens_from_the_icon_in_the_panel_and_update_serves_the_feed")
    try:
        case.setUp()
        measure(case, "desktop")
        measure(case, "none")
    finally:
        case.doCleanups()


if __name__ == "__main__":
    main()
