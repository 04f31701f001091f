#!/usr/bin/env python3
"""zarnik-viewer as a user runs it: a copy of the program in a folder of its own with
"service.conf" and "settings.dat" beside it, the fake journal service on 127.0.0.1 playing every
host of the journal service, and signals (or the terminal's keys) as the tray menu's commands.

    tests/shell/zarnik_viewer_test.py PATH_TO_ZARNIK_VIEWER FAKE_JOURNAL_DIR
"""
import json
import os
import pty
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest
import xml.etree.ElementTree as ET

PROGRAM = None
FAKE_JOURNAL = None
WAIT = 60  # seconds; the sanitizer builds are slow, a healthy run needs a small part of it
STOP_WAIT = 2  # seconds a stop signal may take to end the program
SAMPLE_USER, SAMPLE_PASSWORD = "abc", "secret"


def ipv6_loopback():
    """Whether [::1] can be listened on here."""
    try:
        with socket.socket(socket.AF_INET6) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


def outward_address():
    """This machine's address on the way out to another network ("" without a route)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.connect(("192.0.2.1", 9))  # no datagram is sent
        except OSError:
            return ""
        return probe.getsockname()[0]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def catches_signal(pid, number):
    """Whether process `pid` has a handler for signal `number`."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("SigCgt:"):
                return bool(int(line.split()[1], 16) & (1 << (number - 1)))
    return False


def settings_file(user, password, interval=600):
    """The bytes of settings.dat: the name and the password (each byte plus 10) behind 32-bit
    little-endian lengths, then the interval, with every LF written as CR LF."""
    name = user.encode()
    secret = bytes((byte + 10) % 256 for byte in password.encode())
    layout = (struct.pack("<I", len(name)) + name + struct.pack("<I", len(secret)) + secret +
              struct.pack("<i", interval))
    return layout.replace(b"\n", b"\r\n")


def http_get(port, path, host="127.0.0.1", address="127.0.0.1"):
    """(status, body) of one HTTP/1.0 GET to address:port, with no Host line for a host of None."""
    with socket.create_connection((address, port), timeout=WAIT) as connection:
        host_line = b"Host: %s\r\n" % host.encode() if host is not None else b""
        connection.sendall(b"GET %s HTTP/1.0\r\n%s\r\n" % (path.encode(), host_line))
        answer = b""
        while True:
            data = connection.recv(65536)
            if not data:
                break
            answer += data
    head, _, body = answer.partition(b"\r\n\r\n")
    status_line = head.split(b"\r\n", 1)[0].split()
    return (int(status_line[1]) if len(status_line) > 1 else 0), body


class Activity:
    """What a process has done so far: its user plus system time in clock ticks, and how often
    each of its threads went to sleep (each wake-up of a sleeping thread adds one)."""

    def __init__(self, pid):
        self.ticks = {}
        self.sleeps = {}
        for thread in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/stat" % (pid, thread)) as stat_file:
                    fields = stat_file.read().rpartition(")")[2].split()
                # utime and stime, fields 14 and 15
                self.ticks[thread] = int(fields[11]) + int(fields[12])
                with open("/proc/%d/task/%s/status" % (pid, thread)) as status:
                    for line in status:
                        if line.startswith("voluntary_ctxt_switches:"):
                            self.sleeps[thread] = int(line.split()[1])
            except FileNotFoundError:  # the thread has just ended
                pass

    def threads_active_since(self, earlier):
        return [thread for thread, count in self.sleeps.items()
                if earlier.sleeps.get(thread) != count]

    def ticks_since(self, earlier, leaving_out=()):
        """Clock ticks the threads used since `earlier`, but for those left out."""
        return sum(ticks - earlier.ticks.get(thread, 0) for thread, ticks in self.ticks.items()
                   if thread not in leaving_out)


def sanitizer_threads(program):
    """Threads of the sanitizer's runtime that wake on their own: ThreadSanitizer's background
    thread looks at the process ten times a second."""
    with open(program, "rb") as binary:
        return 1 if b"__tsan_init" in binary.read() else 0


def expected_titles(service, user):
    """The titles of every entry of every friend of `user`, the friends-only ones included,
    newest first, as the merged feed names them."""
    entries = []
    for name in service["users"][user]["friends"]:
        for entry in service["journals"][name]["entries"]:
            title = "[%s] %s" % (name, entry.get("title") or "<no title>")
            entries.append((entry["date"], title))
    return [title for _, title in sorted(entries, reverse=True)]


def terminal_modes_of(fd):
    return termios.tcgetattr(fd)[3] & (termios.ICANON | termios.ECHO)


class TerminalReader(threading.Thread):
    """Keeps reading what the program draws on the pseudo terminal, so it never blocks on a full
    terminal, and lets the test wait for a piece of it."""

    def __init__(self, master):
        super().__init__(daemon=True)
        self.master = master
        self.seen = b""
        self.changed = threading.Condition()

    def run(self):
        while True:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                data = b""
            with self.changed:
                self.seen += data
                self.changed.notify_all()
            if not data:
                return

    def wait_for(self, text, start=0):
        """The offset just past the first `text` drawn at or after `start`."""
        with self.changed:
            found = self.changed.wait_for(lambda: self.seen.find(text, start) >= 0, timeout=WAIT)
            seen = self.seen
        if not found:
            raise AssertionError("%r not drawn within %d s; drawn: %r" % (text, WAIT, seen))
        return seen.find(text, start) + len(text)


class ProgramInFolder(unittest.TestCase):
    """A copy of the program in a scratch folder of its own, configured for the fake journal
    service, which runs for as long as the test does."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="zv-program-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name
        with open(os.path.join(FAKE_JOURNAL, "sample", "service.json")) as data:
            self.service = json.load(data)
        self.journal_port = self.start_fake_journal()
        self.folder = os.path.join(self.scratch, "program")
        os.mkdir(self.folder)
        self.program = os.path.join(self.folder, "zarnik-viewer")
        shutil.copy2(PROGRAM, self.program)
        self.port = free_port()
        with open(os.path.join(self.folder, "service.conf"), "w") as conf:
            conf.write("site = http://www.zarnik.test:%d\n" % self.journal_port +
                       "journal_domain = zarnik.test:%d\n" % self.journal_port +
                       "users_host = users.zarnik.test:%d\n" % self.journal_port +
                       "resolve = *.zarnik.test 127.0.0.1\n"
                       "server_port = %d\n" % self.port)
        with open(os.path.join(self.folder, "settings.dat"), "wb") as settings:
            settings.write(settings_file(SAMPLE_USER, SAMPLE_PASSWORD))
        self.temp = os.path.join(self.scratch, "temp")
        os.mkdir(self.temp)
        # Nothing of the user's own home is touched, whatever the program falls back to.
        self.env = dict(os.environ, TEMP=self.temp, HOME=self.scratch,
                        XDG_CONFIG_HOME=os.path.join(self.scratch, "config"),
                        XDG_CACHE_HOME=os.path.join(self.scratch, "cache"))
        self.env.pop("XDG_RUNTIME_DIR", None)

    def stop_process(self, process):
        if process.poll() is None:
            process.kill()
            try:
                process.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                pass

    def start_fake_journal(self):
        journal = subprocess.Popen(
            [sys.executable, os.path.join(FAKE_JOURNAL, "fake_journal.py"),
             os.path.join(FAKE_JOURNAL, "sample"),
             "--log", os.path.join(self.scratch, "requests.log")],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        self.addCleanup(journal.stdout.close)
        self.addCleanup(self.stop_process, journal)
        ready, _, _ = select.select([journal.stdout], [], [], WAIT)
        self.assertTrue(ready, "the fake journal service gave no PORT line within %d s" % WAIT)
        line = journal.stdout.readline()
        self.assertRegex(line, r"^PORT [1-9][0-9]*\n$")
        return int(line.split()[1])

    def start_program(self, env=None, **streams):
        """Starts the copy headless (no terminal on either side) unless `streams` says otherwise,
        and waits until its server answers."""
        streams.setdefault("stdin", subprocess.DEVNULL)
        if "stdout" not in streams:
            streams["stdout"] = open(os.path.join(self.scratch, "stdout"), "wb")
            self.addCleanup(streams["stdout"].close)
        if "stderr" not in streams:
            streams["stderr"] = open(os.path.join(self.scratch, "stderr"), "wb")
            self.addCleanup(streams["stderr"].close)
        process = subprocess.Popen([self.program], cwd=self.scratch, env=env or self.env,
                                   **streams)
        self.addCleanup(self.stop_process, process)
        self.wait_until_serving(process)
        return process

    def wait_until_serving(self, process):
        # Signals are handled once the server listens; SIGUSR1 before that would end the process.
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            self.assertIsNone(process.poll(), "the program ended while starting")
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.05)
        self.fail("the program did not listen on port %d within %d s" % (self.port, WAIT))

    def update_and_wait_for_feed(self, process):
        """Asks for one update with SIGUSR1 and returns the body of all.xml once it is served."""
        process.send_signal(signal.SIGUSR1)
        return self.wait_for_feed(process)

    def wait_for_feed(self, process):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            self.assertIsNone(process.poll(), "the program ended during the update")
            status, body = http_get(self.port, "/all.xml")
            if status == 200:
                return body
            self.assertEqual(status, 404)
            time.sleep(0.1)
        self.fail("all.xml was not served within %d s of the update" % WAIT)

    def assert_merged_feed(self, body):
        channel = ET.fromstring(body).find("channel")
        self.assertIsNotNone(channel, body[:200])
        titles = [item.findtext("title") or "" for item in channel.findall("item")]
        # The friends-only entries are there only when settings.dat's password answered Digest;
        # the channel always holds 20 items, empty ones after the entries.
        expected = expected_titles(self.service, SAMPLE_USER)
        self.assertEqual(titles, expected + [""] * (20 - len(expected)))


class ZarnikViewerTest(ProgramInFolder):
    def test_update_signal_writes_and_serves_the_merged_feed(self):
        process = self.start_program()
        # No update runs at start-up, so there is nothing to serve yet.
        self.assertEqual(http_get(self.port, "/all.xml")[0], 404)
        self.assertEqual(os.listdir(self.temp), [])

        body = self.update_and_wait_for_feed(process)
        self.assert_merged_feed(body)
        with open(os.path.join(self.temp, "all.xml"), "rb") as written:
            self.assertEqual(written.read(), body)
        # A client that names the feed's host as a reader would is served the same.
        self.assertEqual(http_get(self.port, "/all.xml", "localhost:%d" % self.port)[1], body)
        # Only the temporary folder is served, never the program's own with the password.
        self.assertEqual(http_get(self.port, "/settings.dat")[0], 404)

        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=WAIT), 0)
        with open(os.path.join(self.scratch, "stdout"), "rb") as out:
            self.assertEqual(out.read(), b"", "a program without a terminal draws nothing")

    def test_only_all_xml_is_served_and_only_to_this_machine(self):
        process = self.start_program()
        body = self.update_and_wait_for_feed(process)
        with open(os.path.join(self.temp, "other-program.tmp"), "w") as other:
            other.write("private")
        others = set(os.listdir(self.temp)) - {"all.xml"}
        self.assertLess({"friends.list", "other-program.tmp"}, others, "and the friends' feeds")
        for name in others:
            self.assertEqual(http_get(self.port, "/" + name), (404, b""), name)
        for host, status in (("rebound.example:%d" % self.port, 404), (None, 200)):
            self.assertEqual(http_get(self.port, "/all.xml?x=1", host)[0], status, host)
        if ipv6_loopback():
            self.assertEqual(http_get(self.port, "/all.xml", "[::1]", "::1"), (200, body))
        outward = outward_address()
        if outward and not outward.startswith("127."):
            with self.assertRaises(ConnectionRefusedError, msg=outward):
                socket.create_connection((outward, self.port), timeout=WAIT).close()

    def test_a_second_copy_ends_at_once_and_the_first_keeps_serving(self):
        first = self.start_program()
        body = self.update_and_wait_for_feed(first)
        with open(os.path.join(self.folder, "settings.dat"), "rb") as settings:
            stored = settings.read()

        second = subprocess.run([self.program], cwd=self.scratch, env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stdout, b"")
        lines = second.stderr.decode().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("port %d" % self.port, lines[0])

        self.assertIsNone(first.poll())
        self.assertEqual(http_get(self.port, "/all.xml"), (200, body))
        with open(os.path.join(self.folder, "settings.dat"), "rb") as settings:
            self.assertEqual(settings.read(), stored)
        with open(os.path.join(self.temp, "all.xml"), "rb") as written:
            self.assertEqual(written.read(), body)

    def test_stop_signals_end_the_program_promptly(self):
        for stop in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=stop.name):
                process = self.start_program()
                process.send_signal(stop)
                self.assertEqual(process.wait(timeout=STOP_WAIT), 0)

    def test_a_stop_signal_does_not_wait_for_a_running_update(self):
        # The last friend's feed answers only after a minute, so the update cannot end before.
        status, _ = http_get(self.journal_port,
                             "/_control/fault?journal=fern&kind=stall&seconds=60")
        self.assertEqual(status, 200)
        process = self.start_program()
        process.send_signal(signal.SIGUSR1)
        # A request is logged once answered: the one before the stalled feed shows the update is
        # well under way.
        log = os.path.join(self.scratch, "requests.log")
        deadline = time.monotonic() + WAIT
        while not self.logged_journal(log, "eddie"):
            self.assertLess(time.monotonic(), deadline, "the update did not get under way")
            time.sleep(0.1)
        self.assertFalse(os.path.exists(os.path.join(self.temp, "all.xml")))
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=STOP_WAIT), 0)

    @staticmethod
    def logged_journal(log, name):
        if not os.path.exists(log):
            return False
        with open(log) as requests:
            # A line still being written is not looked at.
            return any(json.loads(line).get("journal") == name
                       for line in requests if line.endswith("\n"))

    def test_an_idle_program_uses_no_cpu(self):
        process = self.start_program()
        self.assert_idle(process, "after start-up")
        # After an update its threads and the icon's animation must have ended too.
        self.update_and_wait_for_feed(process)
        self.assert_idle(process, "after an update")

    def assert_idle(self, process, when):
        # Settled first: a second in which none of the program's own threads ran (the sanitizer
        # builds start slowly, and an update's threads take a moment to end).
        # The sanitizer's own waking thread, if any, is left out of the time counted.
        allowed = sanitizer_threads(PROGRAM)
        deadline = time.monotonic() + WAIT
        before = Activity(process.pid)
        while True:
            time.sleep(1)
            now = Activity(process.pid)
            woke = now.threads_active_since(before)
            if len(woke) <= allowed and now.ticks_since(before, woke) == 0:
                break
            self.assertLess(time.monotonic(), deadline, "the program never came to rest %s" % when)
            before = now
        time.sleep(3)
        after = Activity(process.pid)
        # A thread that polls uses too little time for a clock tick, but it wakes up.
        woke = after.threads_active_since(before)
        self.assertLessEqual(len(woke), allowed, "threads woke up in 3 s of idling %s" % when)
        self.assertLessEqual(after.ticks_since(before, woke), 1,
                             "clock ticks used in 3 s of idling %s" % when)

    def test_without_temp_the_feed_lives_in_a_private_runtime_folder(self):
        runtime = os.path.join(self.scratch, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(self.env, XDG_RUNTIME_DIR=runtime)
        del env["TEMP"]
        process = self.start_program(env=env)
        own = os.path.join(runtime, "zarnik-viewer")
        self.assertTrue(os.path.isdir(own))
        self.assertEqual(stat.S_IMODE(os.stat(own).st_mode), 0o700)
        self.assertEqual(http_get(self.port, "/all.xml")[0], 404)

        body = self.update_and_wait_for_feed(process)
        self.assert_merged_feed(body)
        with open(os.path.join(own, "all.xml"), "rb") as written:
            self.assertEqual(written.read(), body)
        self.assertEqual(os.listdir(self.temp), [])

    def test_without_a_folder_to_serve_the_port_stays_closed(self):
        # A TEMP too long to serve from: nothing can be served, so nothing listens, and a feed
        # reader is refused at once instead of waiting for an answer that never comes.
        env = dict(self.env, TEMP=os.path.join(self.scratch, "t" * 300))
        process = subprocess.Popen([self.program], cwd=self.scratch, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop_process, process)
        # The signal handlers come just before the server would start: once they are there,
        # start-up is as good as done.
        deadline = time.monotonic() + WAIT
        while not catches_signal(process.pid, signal.SIGUSR1):
            self.assertLess(time.monotonic(), deadline, "the program did not start")
            time.sleep(0.05)
        for _ in range(10):
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", self.port), timeout=WAIT).close()
            time.sleep(0.1)
        self.assertIsNone(process.poll())
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=STOP_WAIT), 0)

    def test_on_a_terminal_the_keys_run_the_menu_and_the_terminal_is_restored(self):
        master, slave = pty.openpty()
        reader = TerminalReader(master)
        # Undone last to first: the reader ends once no one holds the terminal's other side.
        self.addCleanup(os.close, master)
        self.addCleanup(reader.join, WAIT)
        self.addCleanup(os.close, slave)
        modes = terminal_modes_of(slave)
        reader.start()
        process = self.start_program(stdin=slave, stdout=slave)

        at = reader.wait_for(b"Zarnik Viewer")
        os.write(master, b"m")
        at = reader.wait_for(b"1-9: choose", at)
        os.write(master, b"1")  # Update
        self.assert_merged_feed(self.wait_for_feed(process))

        # The update ended before its feed was served: the menu offers "Update" again. Only a
        # menu drawn from now on counts: the first one may have been drawn again while the
        # update started, before its choice closed it.
        with reader.changed:
            at = len(reader.seen)
        os.write(master, b"m")
        at = reader.wait_for(b"1-9: choose", at)
        menu = reader.seen[reader.seen.rfind(b"Update", 0, at):at]
        self.assertNotIn(b"greyed", menu)
        os.write(master, b"4")  # Exit
        self.assertEqual(process.wait(timeout=WAIT), 0)
        self.assertEqual(terminal_modes_of(slave), modes, "the terminal's modes were not restored")


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    FAKE_JOURNAL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
