#!/usr/bin/env python3
"""Tests of the fake journal service, run as a child process on a copy of the sample data.

/usr/bin/python3 -m unittest discover -s tools/fake_journal
"""

import hashlib
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICE = os.path.join(HERE, "fake_journal.py")
SAMPLE = os.path.join(HERE, "sample", "service.json")
DOMAIN = "zarnik.test"
ZARNIK_NS = "{http://www.%s/rss/}" % DOMAIN
RSS1_NS = "{http://purl.org/rss/1.0/}"
RDF_NS = "{http://www.w3.org/1999/02/22-rdf-syntax-ns#}"
AUTH_URI = "/data/rss?auth=digest"
CHALLENGE = re.compile(r'^Digest realm="([^"]*)", nonce="([^"]*)", algorithm=MD5, qop="auth"$')


def start_service(folder):
    proc = subprocess.Popen([sys.executable, SERVICE, folder, "--domain", DOMAIN],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ready, _, _ = select.select([proc.stdout], [], [], 10)
    line = proc.stdout.readline() if ready else ""
    match = re.fullmatch(r"PORT (\d+)\n", line)
    if not match:
        proc.kill()
        raise RuntimeError("service did not start: %r %s" % (line, proc.stderr.read()))
    return proc, int(match.group(1))


def exchange(port, request):
    """Sends one request and reads the answer until the service closes the connection."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(request)
        chunks = []
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return b"".join(chunks)
            chunks.append(chunk)


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def digest_answer(user, password, realm, nonce, uri=AUTH_URI, nc="00000001", cnonce="6f2b1c0d"):
    """The Authorization value, in the very form the client sends it."""
    ha1, ha2 = md5("%s:%s:%s" % (user, realm, password)), md5("GET:" + uri)
    response = md5("%s:%s:%s:%s:auth:%s" % (ha1, nonce, nc, cnonce, ha2))
    return ('Digest username="%s", realm="%s", nonce="%s", algorithm=MD5, nc=%s, cnonce="%s", '
            'uri="%s", qop=auth, response="%s"' % (user, realm, nonce, nc, cnonce, uri, response))


class Response:
    def __init__(self, raw):
        self.raw = raw
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status = int(lines[0].split()[1]) if raw else None
        self.headers = dict(line.split(": ", 1) for line in lines[1:] if ": " in line)

    def xml(self):
        return ET.fromstring(self.body)


class ServiceTest(unittest.TestCase):
    """One service for the whole class; every test starts from the reloaded data file."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="fake_journal_")
        shutil.copy(SAMPLE, cls.folder)
        cls.proc, cls.port = start_service(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.proc.send_signal(signal.SIGTERM)
        cls.proc.wait(10)
        cls.proc.stdout.close()
        cls.proc.stderr.close()
        shutil.rmtree(cls.folder)

    def setUp(self):
        self.control("/_control/reset")

    def get(self, host, path, headers=()):
        """One request as the client sends it: extra header lines first, Host (no port) last."""
        text = "GET %s HTTP/1.0\r\n" % path
        text += "".join("%s: %s\r\n" % h for h in headers) + "Host: %s\r\n\r\n" % host
        return Response(exchange(self.port, text.encode()))

    def control(self, path):
        response = self.get("www." + DOMAIN, path)
        self.assertEqual((response.status, response.body), (200, b"ok\n"), path)

    def feed(self, journal, auth=False, headers=()):
        query = "?auth=digest" if auth else ""
        if journal[0] in "_-":
            return self.get("users." + DOMAIN, "/%s/data/rss%s" % (journal, query), headers)
        return self.get("%s.%s" % (journal.replace("_", "-"), DOMAIN), "/data/rss" + query, headers)

    def challenge(self, journal):
        response = self.feed(journal, auth=True)
        self.assertEqual(response.status, 401)
        match = CHALLENGE.match(response.headers["WWW-Authenticate"])
        self.assertTrue(match, response.headers["WWW-Authenticate"])
        return match.group(1), match.group(2)

    def authed_feed(self, journal, password="secret", uri=AUTH_URI):
        realm, nonce = self.challenge(journal)
        answer = digest_answer("abc", password, realm, nonce, uri)
        return self.feed(journal, True, [("Authorization", answer)])

    def log_records(self):
        with open(os.path.join(self.folder, "requests.log"), encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def with_data_file(self, change):
        """Runs `change` on the data file, reloads it, and puts the sample back afterwards."""
        path = os.path.join(self.folder, "service.json")
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        change(data)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(data, f)
        self.addCleanup(shutil.copy, SAMPLE, path)
        self.control("/_control/reset")


class FriendsPageTest(ServiceTest):
    def page(self, user):
        response = self.get("www." + DOMAIN, "/misc/fdata.bml?user=" + user)
        self.assertEqual(response.status, 200)
        return response.body.decode().splitlines()

    def test_lists_friends_in_order_and_friend_of_lines(self):
        lines = self.page("abc")
        self.assertEqual([l for l in lines if l[:1] in "<>"],
                         ["> night_owl", "> _carol", "> dora", "> eddie", "> fern", "< dora", "< zed"])
        self.assertTrue(all(l.startswith("#") for l in lines if l[:1] not in "<>"))

    def test_unknown_user_gets_a_page_without_friends(self):
        self.assertFalse([l for l in self.page("nobody") if l.startswith(">")])

    def test_friends_list_changes_at_run_time_until_reset(self):
        self.control("/_control/friends?user=abc&list=dora,fern")
        self.assertEqual([l for l in self.page("abc") if l.startswith(">")], ["> dora", "> fern"])
        self.assertIn("< zed", self.page("abc"))
        self.control("/_control/reset")
        self.assertIn("> night_owl", self.page("abc"))


class FeedTest(ServiceTest):
    def test_every_feed_parses_and_declares_its_version(self):
        with open(SAMPLE, encoding="utf-8") as f:
            journals = json.load(f)["journals"]
        for name, journal in journals.items():
            for auth in (False, True):
                with self.subTest(journal=name, auth=auth):
                    response = self.authed_feed(name) if auth else self.feed(name)
                    self.assertEqual(response.status, 200)
                    self.assertEqual(response.headers["Content-Type"], "text/xml; charset=utf-8")
                    root = response.xml()
                    if journal["dialect"] == "1.0":
                        self.assertEqual(root.tag, RDF_NS + "RDF")
                        items = root.findall(RSS1_NS + "item")
                        self.assertEqual([i.get(RDF_NS + "about") for i in items],
                                         [i.findtext(RSS1_NS + "link") for i in items])
                    else:
                        self.assertEqual((root.tag, root.get("version")), ("rss", journal["dialect"]))
                        items = root.findall("channel/item")
                    shown = [e for e in journal["entries"] if auth or e["security"] == "public"]
                    self.assertEqual(len(items), len(shown))

    def test_public_feed_leaves_out_friends_only_entries(self):
        body = self.feed("night_owl").body
        self.assertNotIn(b"Only for friends", body)
        self.assertNotIn(b"zarnik:security", body)

    def test_items_are_newest_first_with_escaped_html_and_gmt_dates(self):
        items = self.feed("night_owl").xml().findall("channel/item")
        self.assertEqual([i.findtext("pubDate") for i in items],
                         ["Mon, 19 Jan 2009 22:05:00 GMT", "Sat, 03 Jan 2009 23:40:00 GMT"])
        self.assertEqual(items[1].findtext("description"), "<p>Clear sky &amp; cold air.</p>")

    def test_host_names_map_to_journals(self):
        self.assertEqual(self.get("night-owl." + DOMAIN, "/data/rss").status, 200)
        self.assertEqual(self.get("Night-Owl.%s:80" % DOMAIN, "/data/rss").status, 200)
        self.assertEqual(self.get("users." + DOMAIN, "/_carol/data/rss").status, 200)
        for host, path in (("night_owl." + DOMAIN, "/data/rss"),       # "_" is not turned back
                           ("-carol." + DOMAIN, "/data/rss"),          # "_" names live on users
                           ("users." + DOMAIN, "/night_owl/data/rss"),
                           ("nobody." + DOMAIN, "/data/rss"),
                           ("night-owl.elsewhere.test", "/data/rss")):
            with self.subTest(host=host, path=path):
                self.assertEqual(self.get(host, path).status, 404)


class DigestTest(ServiceTest):
    def test_challenge_has_realm_then_a_fresh_padded_nonce(self):
        nonces = set()
        for _ in range(5):
            realm, nonce = self.challenge("night_owl")
            self.assertEqual(realm, "Zarnik Journal")
            self.assertIn("=", nonce)
            self.assertRegex(nonce, r"[+/]")
            nonces.add(nonce)
        self.assertEqual(len(nonces), 5)

    def test_right_answer_gives_friends_only_entries_marked_with_security(self):
        for journal, title, security in (("night_owl", "Only for friends", "usemask"),
                                         ("_carol", "Party plans", "usemask"),
                                         ("fern", "Just for me", "private")):
            with self.subTest(journal=journal):
                response = self.authed_feed(journal)
                self.assertEqual(response.status, 200)
                item = [i for i in response.xml().iter("item") if i.findtext("title") == title]
                self.assertEqual(item[0].findtext(ZARNIK_NS + "security"), security)
        self.assertEqual([r["digest"] for r in self.log_records() if "digest" in r][-3:], [True] * 3)

    def test_wrong_answers_get_a_new_challenge(self):
        realm, nonce = self.challenge("night_owl")
        cases = {
            "wrong password": digest_answer("abc", "guess", realm, nonce),
            "unknown user": digest_answer("zed", "secret", realm, nonce),
            "other realm": digest_answer("abc", "secret", "Other", nonce),
            "never issued nonce": digest_answer("abc", "secret", realm, "bm90IGlzc3VlZA=="),
            "uri of the request path": digest_answer("abc", "secret", realm, nonce, "/data/rss"),
        }
        for case, answer in cases.items():
            with self.subTest(case):
                response = self.feed("night_owl", True, [("Authorization", answer)])
                self.assertEqual(response.status, 401)
                self.assertNotEqual(CHALLENGE.match(response.headers["WWW-Authenticate"]).group(2), nonce)

    def test_nonce_is_stale_after_use_and_after_reset(self):
        realm, nonce = self.challenge("night_owl")
        answer = [("Authorization", digest_answer("abc", "secret", realm, nonce))]
        self.assertEqual(self.feed("night_owl", True, answer).status, 200)
        self.assertEqual(self.feed("night_owl", True, answer).status, 401)
        realm, nonce = self.challenge("night_owl")
        self.control("/_control/reset")
        answer = [("Authorization", digest_answer("abc", "secret", realm, nonce))]
        self.assertEqual(self.feed("night_owl", True, answer).status, 401)

    def test_users_host_checks_the_journal_relative_uri(self):
        self.assertEqual(self.authed_feed("_carol").status, 200)
        self.assertEqual(self.authed_feed("_carol", uri="/_carol/data/rss?auth=digest").status, 401)

    def test_password_changes_at_run_time(self):
        self.control("/_control/password?user=abc&password=n3w")
        self.assertEqual(self.authed_feed("night_owl").status, 401)
        self.assertEqual(self.authed_feed("night_owl", password="n3w").status, 200)


class FaultTest(ServiceTest):
    def set_fault(self, journal, query):
        self.control("/_control/fault?journal=%s&%s" % (journal, query))

    def test_status_faults(self):
        for kind in ("404", "500"):
            with self.subTest(kind):
                self.set_fault("dora", "kind=" + kind)
                self.assertEqual(self.feed("dora").status, int(kind))
                self.assertEqual(self.feed("dora", auth=True).status, int(kind))
        self.set_fault("_carol", "kind=redirect&location=http://eddie.%s/data/rss" % DOMAIN)
        response = self.feed("_carol")
        self.assertEqual((response.status, response.headers["Location"]),
                         (302, "http://eddie.%s/data/rss" % DOMAIN))

    def test_close_sends_nothing(self):
        self.set_fault("eddie", "kind=close")
        self.assertEqual(self.feed("eddie").raw, b"")
        self.assertIsNone(self.log_records()[-1]["status"])

    def test_stall_then_normal_answer(self):
        self.set_fault("eddie", "kind=stall&seconds=0.5")
        started = time.monotonic()
        response = self.feed("eddie")
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        self.assertEqual(response.xml().get("version"), "0.91")

    def test_cut_body_keeps_the_full_length_header(self):
        whole = self.feed("night_owl").body
        self.set_fault("night_owl", "kind=cut&bytes=120")
        response = self.feed("night_owl")
        self.assertEqual(response.body, whole[:120])
        self.assertEqual(int(response.headers["Content-Length"]), len(whole))

    def test_other_version_and_broken_xml(self):
        self.set_fault("dora", "kind=version&version=0.93")
        root = self.feed("dora").xml()
        self.assertEqual((root.tag, root.get("version")), ("rss", "0.93"))
        self.assertEqual(len(root.findall("channel/item")), 3)
        self.set_fault("dora", "kind=broken")
        response = self.feed("dora")
        self.assertEqual(response.status, 200)
        self.assertRaises(ET.ParseError, response.xml)

    def test_none_clears_and_other_journals_are_untouched(self):
        self.set_fault("fern", "kind=500")
        self.assertEqual(self.feed("eddie").status, 200)
        self.set_fault("fern", "kind=none")
        self.assertEqual(self.feed("fern").status, 200)

    def test_bad_control_requests_are_refused(self):
        for path in ("/_control/fault?journal=nobody&kind=404",
                     "/_control/fault?journal=dora&kind=explode",
                     "/_control/fault?journal=dora&kind=redirect",
                     "/_control/fault?journal=dora&kind=stall&seconds=soon",
                     "/_control/launch"):
            with self.subTest(path):
                self.assertEqual(self.get("www." + DOMAIN, path).status, 400)

    def test_fault_from_the_data_file(self):
        self.with_data_file(lambda d: d["journals"]["eddie"].update(fault={"kind": "404"}))
        self.assertEqual(self.feed("eddie").status, 404)
        self.set_fault("eddie", "kind=none")
        self.assertEqual(self.feed("eddie").status, 200)


class LogAndProcessTest(ServiceTest):
    def test_log_keeps_header_lines_in_order(self):
        realm, nonce = self.challenge("night_owl")
        answer = digest_answer("abc", "secret", realm, nonce)
        self.feed("night_owl", True, [("User-Agent", "ZarnikViewer"), ("Authorization", answer)])
        record = self.log_records()[-1]
        self.assertEqual(record["request"], "GET /data/rss?auth=digest HTTP/1.0")
        self.assertEqual(record["headers"], [["User-Agent", "ZarnikViewer"], ["Authorization", answer],
                                             ["Host", "night-owl." + DOMAIN]])
        self.assertEqual((record["host"], record["status"], record["digest"]),
                         ("night-owl." + DOMAIN, 200, True))

    def test_silent_client_does_not_hold_up_others(self):
        with socket.create_connection(("127.0.0.1", self.port)):
            self.assertEqual(self.feed("dora").status, 200)

    def test_sigterm_ends_it_even_while_a_request_stalls(self):
        folder = tempfile.mkdtemp(prefix="fake_journal_")
        self.addCleanup(shutil.rmtree, folder)
        shutil.copy(SAMPLE, folder)
        proc, port = start_service(folder)
        self.addCleanup(proc.stderr.close)
        self.addCleanup(proc.stdout.close)
        self.addCleanup(lambda: proc.poll() is None and (proc.kill(), proc.wait()))
        stalled = socket.create_connection(("127.0.0.1", port))
        self.addCleanup(stalled.close)
        self.assertTrue(exchange(port, b"GET /_control/fault?journal=dora&kind=stall&seconds=30 "
                                       b"HTTP/1.0\r\nHost: www.zarnik.test\r\n\r\n").endswith(b"\r\nok\n"))
        stalled.sendall(b"GET /data/rss HTTP/1.0\r\nHost: dora.zarnik.test\r\n\r\n")
        time.sleep(0.2)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(5), 0)


class DataFileTest(unittest.TestCase):
    def test_bad_data_file_stops_the_start(self):
        folder = tempfile.mkdtemp(prefix="fake_journal_")
        self.addCleanup(shutil.rmtree, folder)
        with open(os.path.join(folder, "service.json"), "w") as f:
            json.dump({"journals": {"x": {"dialect": "3.0", "entries": []}}}, f)
        result = subprocess.run([sys.executable, SERVICE, folder], capture_output=True, text=True,
                                timeout=10)
        self.assertEqual(result.returncode, 2)
        self.assertIn("dialect", result.stderr)


if __name__ == "__main__":
    unittest.main()
