#!/usr/bin/env python3
"""serve-directory: serves its folder on 127.0.0.1, stops cleanly on SIGTERM and SIGINT, and
says why it cannot start.

    tests/tools/serve_directory_test.py PATH_TO_SERVE_DIRECTORY
"""
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None
WAIT = 20  # seconds; no step of a healthy run comes near it


def get(port, path):
    with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as connection:
        connection.sendall(b"GET " + path + b" HTTP/1.0\r\n\r\n")
        answer = b""
        while True:
            data = connection.recv(65536)
            if not data:
                return answer
            answer += data


class ServeDirectoryTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.body = b"<rss version=\"2.0\"><channel></channel></rss>\n" * 300
        with open(os.path.join(self.root.name, "all.xml"), "wb") as out:
            out.write(self.body)

    def tearDown(self):
        self.root.cleanup()

    def run_tool(self, *arguments):
        return subprocess.run([PROGRAM, *arguments], capture_output=True, text=True,
                              timeout=WAIT)

    def test_serves_the_folder_until_a_stop_signal(self):
        for stop in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=stop.name):
                server = subprocess.Popen([PROGRAM, "0", self.root.name],
                                          stdout=subprocess.PIPE, text=True)
                try:
                    ready, _, _ = select.select([server.stdout], [], [], WAIT)
                    self.assertTrue(ready, "no PORT line within %d s" % WAIT)
                    line = server.stdout.readline()
                    self.assertRegex(line, r"^PORT [1-9][0-9]*\n$")
                    port = int(line.split()[1])
                    answer = get(port, b"/all.xml")
                    self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK\r\n"), answer[:80])
                    self.assertTrue(answer.endswith(b"\r\n\r\n" + self.body))
                    server.send_signal(stop)
                    self.assertEqual(server.wait(timeout=WAIT), 0)
                finally:
                    if server.poll() is None:
                        server.kill()
                        server.wait()
                    server.stdout.close()

    def test_a_port_in_use_is_named_and_fails(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            result = self.run_tool(str(port), self.root.name)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(len(result.stderr.splitlines()), 1)
        self.assertIn("port %d" % port, result.stderr)

    def test_bad_arguments_print_the_usage(self):
        for arguments in ([], ["80"], ["70000", "."], ["-1", "."], ["", "."], ["8x", "."],
                          ["80", ".", "more"]):
            with self.subTest(arguments=arguments):
                result = self.run_tool(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage:", result.stderr)


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
