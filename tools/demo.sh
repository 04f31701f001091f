#!/usr/bin/env bash
# The program's main job against the bundled fake journal service on 127.0.0.1. The tray program
# runs from a demo folder with a "service.conf" that points it at the fake service and a
# "settings.dat" for the sample user "abc" (password "secret"). One update, asked for with
# SIGUSR1 as the menu's "Update" would, downloads every friend's feed (answering the Digest
# challenge) and merges them into all.xml, which the program then serves over HTTP. On a terminal
# the program stays on afterwards with its tray drawn in the terminal, until you choose "Exit".
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Building zarnik-viewer in build-demo/ ..."
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DZV_BUILD_BENCHMARKS=OFF -DZV_DESKTOP_FRONT_END=OFF >/dev/null
cmake --build build-demo --target zarnik-viewer >build-demo/demo-build.log ||
  { cat build-demo/demo-build.log; exit 1; }

demo=$(mktemp -d /tmp/zarnik-viewer-demo.XXXXXX)
service_pid=
program_pid=

# Ends a process we started: SIGTERM, five seconds' grace, then SIGKILL. Returns its status.
end_process() {
  local status=0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || status=$?
  return "$status"
}
stop() {
  if [[ -n $program_pid ]]; then end_process "$program_pid" || true; fi
  if [[ -n $service_pid ]]; then end_process "$service_pid" || true; fi
  rm -rf "$demo"
}
trap stop EXIT

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

python3 tools/fake_journal/fake_journal.py tools/fake_journal/sample --log "$demo/requests.log" \
  >"$demo/service.out" </dev/null &
service_pid=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$demo/service.out" 2>/dev/null && break
  sleep 0.1
done
journal_port=$(sed -n 's/^PORT //p' "$demo/service.out")
[[ -n $journal_port ]] || { echo "the fake journal service did not start" >&2; exit 1; }

# The program, its About page, and its two files beside it. Every host of the journal service is
# played by the fake one on loopback; the feed is served on a free port.
cp build-demo/shell/zarnik-viewer build-demo/shell/about.html "$demo/"
server_port=$(free_port)
feed_url=http://localhost:$server_port/all.xml
cat >"$demo/service.conf" <<CONF
site = http://www.zarnik.test:$journal_port
journal_domain = zarnik.test:$journal_port
users_host = users.zarnik.test:$journal_port
resolve = *.zarnik.test 127.0.0.1
server_port = $server_port
CONF
# settings.dat: user name and password (each byte plus 10) behind 32-bit little-endian lengths,
# then the update interval in seconds; every LF byte stored as CR LF.
python3 - "$demo/settings.dat" abc secret 600 <<'PY'
import struct, sys
path, interval = sys.argv[1], int(sys.argv[4])
user, password = sys.argv[2].encode(), sys.argv[3].encode()
hidden = bytes((byte + 10) % 256 for byte in password)
layout = (struct.pack("<I", len(user)) + user + struct.pack("<I", len(hidden)) + hidden +
          struct.pack("<i", interval))
open(path, "wb").write(layout.replace(b"\n", b"\r\n"))
PY
mkdir -m 0700 "$demo/temp"
export TEMP="$demo/temp"

echo "Fake journal service on 127.0.0.1:$journal_port; user abc follows night_owl (RSS 2.0),"
echo "_carol (RSS 0.92), dora (RSS 1.0), eddie (RSS 0.91) and fern (RSS 2.0)."
echo "zarnik-viewer runs from $demo with TEMP=$TEMP, serving port $server_port."

"$demo/zarnik-viewer" </dev/null >"$demo/program.log" 2>&1 &
program_pid=$!
# Signals are handled once the program listens; SIGUSR1 before that would end it.
for _ in $(seq 200); do
  (exec 3<>"/dev/tcp/127.0.0.1/$server_port") 2>/dev/null && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if ! kill -0 "$program_pid" 2>/dev/null; then
  cat "$demo/program.log" >&2
  exit 1
fi

echo "One update (SIGUSR1, the menu's \"Update\"), 500 ms between friends ..."
kill -USR1 "$program_pid"
python3 - "http://127.0.0.1:$server_port/all.xml" "$feed_url" <<'PY'
import sys, time, urllib.error, urllib.request, xml.etree.ElementTree as ET
url, feed = sys.argv[1], sys.argv[2]
deadline = time.monotonic() + 60
while True:
    try:
        body = urllib.request.urlopen(url, timeout=10).read()
        break
    except urllib.error.HTTPError as error:
        if error.code != 404 or time.monotonic() > deadline:
            sys.exit("all.xml was not served: %s" % error)
        time.sleep(0.2)
print("\nThe feed to subscribe to: %s\n" % feed)
channel = ET.fromstring(body).find("channel")
print("  channel: %s  <%s>" % (channel.findtext("title"), channel.findtext("link")))
for item in channel.findall("item"):
    if item.findtext("title"):
        print("  %s  %s" % (item.findtext("pubDate"), item.findtext("title")))
PY
echo
echo "Requests the service got:"
python3 - "$demo/requests.log" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    names = [name.lower() for name, _ in r["headers"]]
    auth = "  (Digest answer)" if "authorization" in names else ""
    print(f"  {r['status']}  {r['host']}  {r['request']}{auth}")
PY

# SIGTERM is the menu's "Exit": the program ends with status 0.
end_process "$program_pid" || { echo "zarnik-viewer ended with status $?" >&2; exit 1; }
program_pid=
if [[ -t 0 && -t 1 ]]; then
  cat <<TEXT

zarnik-viewer now runs again in this terminal, with its tray icon drawn on the last line.
Enter or "m" opens the menu; 1 "Update", 2 "Settings...", 3 "About...", 4 "Exit" (Esc closes
it). Feed readers on this machine can read $feed_url meanwhile.
"Exit" or Ctrl-C ends the program and the demo.

TEXT
  "$demo/zarnik-viewer" || true
  echo
fi
echo "Demo done."
