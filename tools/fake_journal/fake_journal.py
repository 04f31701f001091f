#!/usr/bin/env python3
"""A fake journal service for Zarnik Viewer's tests and demo.

One process on one port (127.0.0.1 only) plays every host of the service and
routes by the Host header.  With the domain D (default "zarnik.test"):

  http://www.D/misc/fdata.bml?user=U     friends data of user U (text lines)
  http://NAME.D/data/rss                 feed of journal NAME, every "_" in
                                         NAME written as "-" in the host
  http://users.D/NAME/data/rss           feed of a journal whose name starts
                                         with "_" or "-" (name unchanged)

Adding "?auth=digest" to a feed URL asks for HTTP Digest (RFC 2617, MD5,
qop=auth); a reader who passes it also gets the journal's non-public entries.
Which host form serves which name is strict on purpose: a journal starting
with "_" or "-" is only on the users host, every other one only on its own.

Data file: DATA_FOLDER/service.json

  {
    "realm": "Zarnik Journal",                       optional, this default
    "users": {
      "abc": {"password": "secret",                  null or "" = no password
              "friends": ["night_owl", "_carol"],    "> name" lines, in order
              "friend_of": ["dora"]}                 "< name" lines
    },
    "journals": {
      "night_owl": {
        "dialect": "2.0",                 "2.0", "0.91", "0.92" or "1.0" (RDF)
        "title": "Night Owl",             optional, default: the name
        "description": "...",             optional
        "language": "en",                 optional
        "entries": [                      any order; newest comes first
          {"title": "...",
           "date": "2009-01-05 10:00",    UTC; "YYYY-MM-DD HH:MM[:SS]"
           "description": "<b>HTML</b> as text",
           "link": "http://...",          optional, default BASE/<1000+index>.html
           "security": "public"}          "public", "usemask" or "private"
        ],
        "fault": {"kind": "stall", "seconds": 2}      optional, see below
      }
    }
  }

Non-public entries ("usemask" and "private") go to any reader who passed the
Digest check, and carry <zarnik:security>.

Faults, per journal, both in the data file and at run time:

  kind=404 | 500                answer with that status
  kind=redirect&location=URL    302 to URL
  kind=close                    close the connection without a word
  kind=stall&seconds=S          wait S seconds (may be fractional), then
                                answer normally
  kind=cut&bytes=N              send the headers (Content-Length of the whole
                                feed) and the first N bytes of it, then close
  kind=version&version=V        the feed as RSS with version="V" (default 0.93)
  kind=broken                   a feed that is not well-formed XML
  kind=none                     clear (control requests only)

Control requests, on any host, answered 200 "ok" (400 with the reason when
the request makes no sense):

  /_control/fault?journal=NAME&kind=KIND[&seconds=S][&bytes=N][&location=URL][&version=V]
  /_control/password?user=U&password=P   empty P = no password; makes U if new
  /_control/friends?user=U&list=a,b,c[&of=x,y]   replaces the friends (and,
                                         with "of", the friend-of) list
  /_control/reset                        reload the data file: run-time
                                         changes and issued nonces are dropped

Usage: fake_journal.py DATA_FOLDER [--port N] [--domain D] [--log FILE]
Port 0 (the default) takes any free port; once listening the service prints
one line "PORT <n>" to stdout.  Every request is logged as one JSON object a
line to FILE (default DATA_FOLDER/requests.log, appended): time, client,
request line, host, the header lines as [name, value] in the order received,
the status answered (null when the connection was closed without one), the
fault applied, and for Digest attempts "digest": true/false with a reason.
SIGTERM or SIGINT stops it with exit status 0.
"""

import argparse
import base64
import datetime
import hashlib
import json
import os
import re
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit
from xml.sax.saxutils import escape, quoteattr

DATA_FILE_NAME = "service.json"
DEFAULT_REALM = "Zarnik Journal"
DIALECTS = ("2.0", "0.91", "0.92", "1.0")
SECURITY_LEVELS = ("public", "usemask", "private")
FAULT_KINDS = ("404", "500", "redirect", "close", "stall", "cut", "version", "broken")
RDF_NS = "http://www.w3.org/1999/02/22-rdf-syntax-ns#"
RSS1_NS = "http://purl.org/rss/1.0/"
SOCKET_TIMEOUT_SECONDS = 10
NONCE_LIFETIME_SECONDS = 600

_DAY_NAMES = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
_MONTH_NAMES = ("Jan", "Feb", "Mar", "Apr", "May", "Jun",
                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


class DataError(Exception):
    """The data file or a control request holds something the service can't use."""


# ---------------------------------------------------------------- data file

def parse_entry_date(text):
    for fmt in ("%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%d"):
        try:
            return datetime.datetime.strptime(text, fmt)
        except ValueError:
            pass
    raise DataError("unreadable date %r (want YYYY-MM-DD HH:MM)" % text)


def rfc822_date(moment):
    # Spelled out by hand so the locale can't change the day and month names.
    return "%s, %02d %s %04d %02d:%02d:%02d GMT" % (
        _DAY_NAMES[moment.weekday()], moment.day, _MONTH_NAMES[moment.month - 1],
        moment.year, moment.hour, moment.minute, moment.second)


def check_fault(fault, where):
    if not isinstance(fault, dict) or fault.get("kind") not in FAULT_KINDS:
        raise DataError("%s: fault needs a kind out of %s" % (where, ", ".join(FAULT_KINDS)))
    kind = fault["kind"]
    try:
        if kind == "stall":
            fault["seconds"] = float(fault.get("seconds", 1))
        if kind == "cut":
            fault["bytes"] = int(fault.get("bytes", 100))
    except (TypeError, ValueError):
        raise DataError("%s: fault %s has a bad number" % (where, kind))
    if kind == "redirect" and not fault.get("location"):
        raise DataError("%s: a redirect fault needs a location" % where)
    if kind == "version":
        fault["version"] = str(fault.get("version") or "0.93")
    return fault


def load_data(path):
    """Reads and checks the data file; returns (realm, users, journals, faults)."""
    with open(path, encoding="utf-8") as f:
        raw = json.load(f)
    realm = raw.get("realm") or DEFAULT_REALM
    users = {}
    for name, user in (raw.get("users") or {}).items():
        users[name] = {
            "password": user.get("password") or None,
            "friends": list(user.get("friends") or []),
            "friend_of": list(user.get("friend_of") or []),
        }
    journals, faults = {}, {}
    for name, journal in (raw.get("journals") or {}).items():
        where = "journal %r" % name
        dialect = str(journal.get("dialect", "2.0"))
        if dialect not in DIALECTS:
            raise DataError("%s: dialect %r is not one of %s" % (where, dialect, ", ".join(DIALECTS)))
        entries = []
        for index, entry in enumerate(journal.get("entries") or []):
            security = entry.get("security", "public")
            if security not in SECURITY_LEVELS:
                raise DataError("%s: security %r is not one of %s"
                                % (where, security, ", ".join(SECURITY_LEVELS)))
            entries.append({
                "id": 1000 + index,
                "title": entry.get("title", ""),
                "date": parse_entry_date(entry["date"]),
                "description": entry.get("description", ""),
                "link": entry.get("link"),
                "security": security,
            })
        entries.sort(key=lambda e: e["date"], reverse=True)
        journals[name] = {
            "dialect": dialect,
            "title": journal.get("title") or name,
            "description": journal.get("description") or "%s - Zarnik" % name,
            "language": journal.get("language"),
            "entries": entries,
        }
        if journal.get("fault"):
            faults[name] = check_fault(dict(journal["fault"]), where)
    return realm, users, journals, faults


# ------------------------------------------------------------------- feeds

def on_users_host(name):
    return name[:1] in ("_", "-")


def journal_base_url(name, domain):
    if on_users_host(name):
        return "http://users.%s/%s/" % (domain, name)
    return "http://%s.%s/" % (name.replace("_", "-"), domain)


def render_feed(name, journal, domain, with_protected, version=None):
    """The journal's feed as UTF-8 bytes.  `version` forces an RSS root of that version."""
    base = journal_base_url(name, domain)
    zarnik_ns = "http://www.%s/rss/" % domain
    entries = [dict(e, url=e["link"] or "%s%d.html" % (base, e["id"]))
               for e in journal["entries"] if with_protected or e["security"] == "public"]
    dialect = version or journal["dialect"]
    out = ['<?xml version="1.0" encoding="utf-8"?>']

    def item_body(entry, indent):
        lines = ["%s<title>%s</title>" % (indent, escape(entry["title"])),
                 "%s<link>%s</link>" % (indent, escape(entry["url"]))]
        lines.append("%s<description>%s</description>" % (indent, escape(entry["description"])))
        lines.append("%s<pubDate>%s</pubDate>" % (indent, rfc822_date(entry["date"])))
        if dialect == "2.0":
            lines.append('%s<guid isPermaLink="true">%s</guid>' % (indent, escape(entry["url"])))
        if entry["security"] != "public":
            lines.append("%s<zarnik:security>%s</zarnik:security>" % (indent, entry["security"]))
        return lines

    if dialect == "1.0" and version is None:
        out.append('<rdf:RDF xmlns:rdf=%s xmlns=%s xmlns:zarnik=%s>'
                   % (quoteattr(RDF_NS), quoteattr(RSS1_NS), quoteattr(zarnik_ns)))
        out.append("  <channel rdf:about=%s>" % quoteattr(base))
        out.append("    <title>%s</title>" % escape(journal["title"]))
        out.append("    <link>%s</link>" % escape(base))
        out.append("    <description>%s</description>" % escape(journal["description"]))
        out.append("    <items>")
        out.append("      <rdf:Seq>")
        for entry in entries:
            out.append("        <rdf:li rdf:resource=%s/>" % quoteattr(entry["url"]))
        out.append("      </rdf:Seq>")
        out.append("    </items>")
        out.append("  </channel>")
        for entry in entries:
            out.append("  <item rdf:about=%s>" % quoteattr(entry["url"]))
            out.extend(item_body(entry, "    "))
            out.append("  </item>")
        out.append("</rdf:RDF>")
    else:
        out.append('<rss version=%s xmlns:zarnik=%s>' % (quoteattr(dialect), quoteattr(zarnik_ns)))
        out.append("  <channel>")
        out.append("    <title>%s</title>" % escape(journal["title"]))
        out.append("    <link>%s</link>" % escape(base))
        out.append("    <description>%s</description>" % escape(journal["description"]))
        if journal["language"]:
            out.append("    <language>%s</language>" % escape(journal["language"]))
        if entries:
            newest = rfc822_date(entries[0]["date"])
            out.append("    <pubDate>%s</pubDate>" % newest)
            if dialect == "2.0":
                out.append("    <lastBuildDate>%s</lastBuildDate>" % newest)
        for entry in entries:
            out.append("    <item>")
            out.extend(item_body(entry, "      "))
            out.append("    </item>")
        out.append("  </channel>")
        out.append("</rss>")
    return ("\n".join(out) + "\n").encode("utf-8")


def break_feed(feed):
    """The feed with its closing tags gone and a stray, unclosed item with a bare "&"."""
    text = feed.decode("utf-8")
    cut = text.rfind("</item>")
    if cut < 0:
        cut = text.rfind("</channel>")
    return (text[:cut] + "<item><title>Tom & Jerry</title><description><b>unclosed\n").encode("utf-8")


# ------------------------------------------------------------------ digest

def md5_hex(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def parse_digest_fields(value):
    """The name=value pairs of a "Digest ..." header value, or None when it isn't Digest."""
    scheme, _, rest = value.strip().partition(" ")
    if scheme.lower() != "digest":
        return None
    fields, pos, n = {}, 0, len(rest)
    while pos < n:
        while pos < n and rest[pos] in " \t,":
            pos += 1
        eq = rest.find("=", pos)
        if eq < 0:
            break
        key = rest[pos:eq].strip().lower()
        pos = eq + 1
        while pos < n and rest[pos] in " \t":
            pos += 1
        if pos < n and rest[pos] == '"':
            pos += 1
            chars = []
            while pos < n and rest[pos] != '"':
                if rest[pos] == "\\" and pos + 1 < n:
                    pos += 1
                chars.append(rest[pos])
                pos += 1
            pos += 1
            fields[key] = "".join(chars)
        else:
            end = rest.find(",", pos)
            end = n if end < 0 else end
            fields[key] = rest[pos:end].strip()
            pos = end
    return fields


def new_nonce():
    # 16 random bytes and 12 hex digits of the clock are 28 bytes, so the base64 text always ends
    # in "=="; drawing again until it holds "+" or "/" makes every nonce carry all three.
    while True:
        raw = os.urandom(16) + ("%012x" % int(time.time() * 1000)).encode("ascii")
        nonce = base64.b64encode(raw).decode("ascii")
        if "+" in nonce or "/" in nonce:
            return nonce


# ----------------------------------------------------------------- service

class Service:
    """The service's state: data file contents, run-time changes, issued nonces."""

    def __init__(self, data_path, domain, log_path):
        self.data_path = data_path
        self.domain = domain.lower()
        self.lock = threading.Lock()
        self.log_file = open(log_path, "a", encoding="utf-8")
        self.log_lock = threading.Lock()
        self.reset()

    def reset(self):
        realm, users, journals, faults = load_data(self.data_path)
        with self.lock:
            self.realm, self.users, self.journals, self.faults = realm, users, journals, faults
            self.nonces = {}  # nonce -> [issue time, highest nc seen]

    def log(self, record):
        line = json.dumps(record, ensure_ascii=False)
        with self.log_lock:
            self.log_file.write(line + "\n")
            self.log_file.flush()

    def issue_nonce(self):
        nonce = new_nonce()
        with self.lock:
            now = time.time()
            for old in [k for k, v in self.nonces.items() if now - v[0] > NONCE_LIFETIME_SECONDS]:
                del self.nonces[old]
            self.nonces[nonce] = [now, 0]
        return nonce

    def check_digest(self, header_value, relative_uri):
        """Checks an Authorization value against the journal-relative request target
        (the users host's "/NAME" prefix taken off); returns (passed, reason)."""
        fields = parse_digest_fields(header_value)
        if fields is None:
            return False, "not a Digest answer"
        for key in ("username", "realm", "nonce", "uri", "response", "qop", "nc", "cnonce"):
            if key not in fields:
                return False, "no %s" % key
        if fields.get("algorithm", "MD5").upper() != "MD5":
            return False, "algorithm %s" % fields["algorithm"]
        if fields["qop"] != "auth":
            return False, "qop %s" % fields["qop"]
        if fields["uri"] != relative_uri:
            return False, "uri %r, want %r" % (fields["uri"], relative_uri)
        if not re.fullmatch(r"[0-9a-fA-F]{8}", fields["nc"]):
            return False, "nc %r" % fields["nc"]
        with self.lock:
            user = self.users.get(fields["username"])
            password = user["password"] if user else None
            realm = self.realm
            issued = self.nonces.get(fields["nonce"])
        if password is None:
            return False, "unknown user or no password"
        if fields["realm"] != realm:
            return False, "realm %r" % fields["realm"]
        if issued is None:
            return False, "stale or unknown nonce"
        ha1 = md5_hex("%s:%s:%s" % (fields["username"], realm, password))
        ha2 = md5_hex("GET:%s" % fields["uri"])
        want = md5_hex("%s:%s:%s:%s:%s:%s" % (ha1, fields["nonce"], fields["nc"],
                                              fields["cnonce"], fields["qop"], ha2))
        if fields["response"].lower() != want:
            return False, "wrong response"
        nc = int(fields["nc"], 16)
        with self.lock:
            issued = self.nonces.get(fields["nonce"])
            if issued is None or nc <= issued[1]:
                return False, "nonce count replayed"
            issued[1] = nc
        return True, "ok"

    def apply_control(self, action, query):
        def arg(name, required=True):
            values = query.get(name)
            if not values:
                if required:
                    raise DataError("missing %s" % name)
                return None
            return values[0]

        if action == "reset":
            self.reset()
            return
        with self.lock:
            if action == "fault":
                journal, kind = arg("journal"), arg("kind")
                if journal not in self.journals:
                    raise DataError("no journal %r" % journal)
                if kind == "none":
                    self.faults.pop(journal, None)
                    return
                fault = {"kind": kind}
                for key in ("seconds", "bytes", "location", "version"):
                    if arg(key, False) is not None:
                        fault[key] = arg(key)
                self.faults[journal] = check_fault(fault, "fault")
            elif action == "password":
                user = self.users.setdefault(arg("user"), {"password": None, "friends": [], "friend_of": []})
                user["password"] = arg("password", False) or None
            elif action == "friends":
                user = self.users.setdefault(arg("user"), {"password": None, "friends": [], "friend_of": []})
                for key, field in (("list", "friends"), ("of", "friend_of")):
                    value = query.get(key)
                    if value is not None or key == "list":
                        text = value[0] if value else ""
                        user[field] = [n.strip() for n in text.split(",") if n.strip()]
            else:
                raise DataError("unknown control %r" % action)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = SOCKET_TIMEOUT_SECONDS
    server_version = "ZarnikFakeJournal/1.0"

    @property
    def service(self):
        return self.server.service

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # the JSON request log says it all

    def do_GET(self):
        self.record = {
            "time": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ"),
            "client": "%s:%d" % self.client_address[:2],
            "request": self.requestline,
            "host": None,
            "headers": [[name, value] for name, value in self.headers.items()],
            "status": None,
        }
        started = time.monotonic()
        try:
            self.route()
        except (ConnectionError, socket.timeout):
            self.record["error"] = "connection lost"
        finally:
            self.close_connection = True
            self.record["seconds"] = round(time.monotonic() - started, 4)
            self.service.log(self.record)

    def send_body(self, status, body, content_type="text/plain; charset=utf-8", extra=(), length=None):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.record["status"] = status
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def route(self):
        host = (self.headers.get("Host") or "").strip().lower().split(":")[0]
        self.record["host"] = host
        target = urlsplit(self.path)
        query = parse_qs(target.query, keep_blank_values=True)
        if target.path.startswith("/_control/"):
            try:
                self.service.apply_control(target.path[len("/_control/"):], query)
            except (DataError, OSError, ValueError) as error:
                return self.send_body(400, "%s\n" % error)
            return self.send_body(200, "ok\n")

        domain = self.service.domain
        suffix = "." + domain
        if not host.endswith(suffix):
            return self.send_body(404, "no such host %r\n" % host)
        label = host[:-len(suffix)]
        if label == "www":
            if target.path == "/misc/fdata.bml":
                return self.friends_page((query.get("user") or [""])[0])
            return self.send_body(404, "not found\n")

        if label == "users":
            match = re.fullmatch(r"/([^/]+)(/data/rss)", target.path)
            name = match.group(1) if match and on_users_host(match.group(1)) else None
            relative = match.group(2) if match else None
        else:
            name = None
            if target.path == "/data/rss":
                with self.service.lock:
                    for candidate in self.service.journals:
                        if not on_users_host(candidate) and candidate.replace("_", "-").lower() == label:
                            name = candidate
            relative = target.path
        if relative is not None and target.query:
            relative += "?" + target.query
        with self.service.lock:
            journal = self.service.journals.get(name)
        if journal is None:
            return self.send_body(404, "no such journal\n")
        self.record["journal"] = name
        self.feed(name, journal, query, relative)

    def friends_page(self, user_name):
        with self.service.lock:
            user = self.service.users.get(user_name)
            friends = list(user["friends"]) if user else []
            friend_of = list(user["friend_of"]) if user else []
        lines = ["# Note: friends data of %s, one name a line" % user_name,
                 "# > = in the user's friends list, < = lists the user as a friend"]
        if user is None:
            lines = ["# Note: no such user %s" % user_name]
        lines += ["> %s" % n for n in friends] + ["< %s" % n for n in friend_of]
        self.send_body(200, "\n".join(lines) + "\n")

    def feed(self, name, journal, query, relative_uri):
        with self.service.lock:
            fault = dict(self.service.faults.get(name) or {})
            realm = self.service.realm
        kind = fault.get("kind")
        if kind:
            self.record["fault"] = kind
        if kind == "close":
            return
        if kind == "stall":
            time.sleep(fault["seconds"])
        if kind in ("404", "500"):
            return self.send_body(int(kind), "<html><body>%s</body></html>\n" % kind,
                                  "text/html; charset=utf-8")
        if kind == "redirect":
            return self.send_body(302, "moved\n", extra=[("Location", fault["location"])])

        with_protected = False
        if "digest" in query.get("auth", []):
            answer = self.headers.get("Authorization")
            if answer is not None:
                passed, reason = self.service.check_digest(answer, relative_uri)
                self.record["digest"] = passed
                self.record["digest_reason"] = reason
                with_protected = passed
            if not with_protected:
                challenge = 'Digest realm="%s", nonce="%s", algorithm=MD5, qop="auth"' % (
                    realm, self.service.issue_nonce())
                return self.send_body(401, "<html><body>401 Unauthorized</body></html>\n",
                                      "text/html; charset=utf-8",
                                      extra=[("WWW-Authenticate", challenge)])

        body = render_feed(name, journal, self.service.domain, with_protected,
                           fault.get("version") if kind == "version" else None)
        content_type = "text/xml; charset=utf-8"
        if kind == "broken":
            body = break_feed(body)
        if kind == "cut":
            return self.send_body(200, body[:fault["bytes"]], content_type, length=len(body))
        self.send_body(200, body, content_type)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], (ConnectionError, socket.timeout)):
            return
        super().handle_error(request, client_address)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Fake journal service for Zarnik Viewer.")
    parser.add_argument("data_folder")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--domain", default="zarnik.test")
    parser.add_argument("--log")
    args = parser.parse_args(argv)

    data_path = args.data_folder
    if os.path.isdir(data_path):
        data_path = os.path.join(data_path, DATA_FILE_NAME)
    log_path = args.log or os.path.join(os.path.dirname(os.path.abspath(data_path)), "requests.log")
    try:
        service = Service(data_path, args.domain, log_path)
    except (OSError, ValueError, KeyError, DataError) as error:
        print("fake_journal: %s: %s" % (data_path, error), file=sys.stderr)
        return 2

    server = Server(("127.0.0.1", args.port), Handler)
    server.service = service

    def stop(signum, frame):
        # shutdown() waits for serve_forever() to return, which runs on this very thread.
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        service.log_file.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
