#!/usr/bin/env bash
# How long slow local clients lock a feed reader out of the built-in HTTP/1.0 server.
#
# Starts build/tools/serve-directory on a scratch folder with a 10 kB "all.xml" on 127.0.0.1,
# opens 20 connections (the server's limit) that each send one byte of a request line every DRIP
# seconds and never finish it, then asks for /all.xml the way a feed reader does, again every
# quarter second while the answer is the server's refusal (or nothing), and prints how long it
# was refused: up to LIMIT seconds measured. It also prints when the server closed the slow
# connections. The slow clients never reconnect.
#
#   bench/slow_client_lockout.sh [BUILD_DIR]    (default: build/ beside bench/)
#
# DRIP (seconds, default 5) is the pause between two bytes of each slow client; LIMIT (seconds,
# default 70) ends the measurement. SERVER names another serve-directory binary to measure (an
# older build, say) instead of BUILD_DIR's. Needs python3; everything stays on 127.0.0.1 and the
# script ends by itself after about LIMIT seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
drip=${DRIP:-5}
limit=${LIMIT:-70}
server=${SERVER:-}

if [[ -z $server ]]; then
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target serve-directory >/dev/null
  server=$build/tools/serve-directory
fi

work=$(mktemp -d)
server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/www"
python3 - "$work/www/all.xml" <<'PY'
import sys
items = "".join(
    "<item><title>Entry %d</title><link>http://friend%d.zarnik.example/%d.html</link>"
    "<description>%s</description></item>\n" % (n, n % 5, n, "word " * 140) for n in range(12))
open(sys.argv[1], "w").write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">"
                             "<channel><title>Friends</title>\n" + items + "</channel></rss>\n")
PY

"$server" 0 "$work/www" >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$work/server.out" && break
  sleep 0.1
done
port=$(sed -n 's/^PORT //p' "$work/server.out")
if [[ -z $port ]]; then
  echo "serve-directory did not start: $(cat "$work/server.out")" >&2
  exit 1
fi

timeout $((limit + 60)) python3 - "$port" "$drip" "$limit" "$work/www/all.xml" <<'PY'
import os, socket, sys, threading, time

port, drip, limit = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
size = os.path.getsize(sys.argv[4])
request_line = b"GET /" + b"x" * 200  # never finished: at most one byte per DRIP seconds

def ask():
    """One GET of /all.xml as a feed reader sends it: True when the file came whole."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as reader:
            reader.sendall(b"GET /all.xml HTTP/1.0\r\nHost: localhost\r\n\r\n")
            answer = b""
            while True:
                block = reader.recv(65536)
                if not block:
                    break
                answer += block
    except OSError:
        return False
    return answer.startswith(b"HTTP/1.0 200") and answer.endswith(b"</rss>\n") and \
        len(answer.split(b"\r\n\r\n", 1)[-1]) == size

if not ask():
    sys.exit("the server did not serve all.xml before the slow clients came")
time.sleep(0.3)  # the first reader's connection thread ends

slow = []
for _ in range(20):
    connection = socket.create_connection(("127.0.0.1", port), timeout=5)
    connection.sendall(request_line[:1])
    slow.append(connection)
    time.sleep(0.05)
start = time.monotonic()
closed = {}  # slow connection index -> seconds after start when the server closed it
stop = threading.Event()

def dripper():
    sent = 1
    while not stop.wait(drip) and sent < len(request_line):
        for index, connection in enumerate(slow):
            if index in closed:
                continue
            try:
                connection.sendall(request_line[sent:sent + 1])
            except OSError:
                closed[index] = time.monotonic() - start
        sent += 1

def watcher():
    # A slow connection that the server closed reads as the end of the stream (or a reset).
    while not stop.is_set():
        for index, connection in enumerate(slow):
            if index in closed:
                continue
            connection.setblocking(False)
            try:
                if connection.recv(4096) == b"":
                    closed[index] = time.monotonic() - start
            except BlockingIOError:
                pass
            except OSError:
                closed[index] = time.monotonic() - start
        stop.wait(0.1)

threads = [threading.Thread(target=dripper), threading.Thread(target=watcher)]
for thread in threads:
    thread.start()
refused, served_after = 0, None
while time.monotonic() - start < limit:
    if ask():
        served_after = time.monotonic() - start
        break
    refused += 1
    time.sleep(0.25)
while len(closed) < len(slow) and time.monotonic() - start < limit:
    time.sleep(0.1)  # when the server closes the other slow connections
stop.set()
for thread in threads:
    thread.join()
for connection in slow:
    connection.close()

print("20 slow clients, one byte every %g s each; measured up to %g s" % (drip, limit))
if served_after is None:
    print("feed reader locked out: for all %.1f s measured (%d refused tries)" % (limit, refused))
else:
    print("feed reader locked out: %.1f s (%d refused tries), then served" % (served_after, refused))
if closed:
    times = sorted(closed.values())
    print("server closed %d of the 20 slow connections, %.1f s to %.1f s after they were all open"
          % (len(times), times[0], times[-1]))
else:
    print("server closed none of the 20 slow connections")
PY
