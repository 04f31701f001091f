#!/usr/bin/env bash
# The program's main job against the bundled fake journal service on 127.0.0.1: one update cycle
# for the sample user "abc" (password "secret") downloads the friends list and every friend's
# feed, answering the Digest challenge, and merges them into all.xml.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DZV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-demo --target update-once >/dev/null

work=$(mktemp -d)
service_pid=
stop() {
  [[ -n $service_pid ]] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT

python3 tools/fake_journal/fake_journal.py tools/fake_journal/sample --log "$work/requests.log" \
  >"$work/service.out" &
service_pid=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$work/service.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^PORT //p' "$work/service.out")
[[ -n $port ]] || { echo "the fake journal service did not start" >&2; exit 1; }

# Every host of the service is played by the fake one on loopback.
cat >"$work/service.conf" <<CONF
site = http://www.zarnik.test:$port
journal_domain = zarnik.test:$port
users_host = users.zarnik.test:$port
resolve = *.zarnik.test 127.0.0.1
CONF

mkdir "$work/temp"
echo "Fake journal service on 127.0.0.1:$port; user abc follows night_owl (RSS 2.0),"
echo "_carol (RSS 0.92), dora (RSS 1.0), eddie (RSS 0.91) and fern (RSS 2.0)."
echo "One update cycle, 500 ms between friends:"
all_xml=$(TEMP="$work/temp" ZV_PASSWORD=secret build-demo/tools/update-once "$work/service.conf" abc \
  | tee /dev/stderr | tail -n 1)
echo
echo "Requests the service got:"
python3 - "$work/requests.log" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    names = [name.lower() for name, _ in r["headers"]]
    auth = "  (Digest answer)" if "authorization" in names else ""
    print(f"  {r['status']}  {r['host']}  {r['request']}{auth}")
PY
echo
echo "$all_xml, the newest items (friends-only ones included):"
python3 - "$all_xml" <<'PY'
import sys, xml.etree.ElementTree as ET
channel = ET.parse(sys.argv[1]).getroot().find("channel")
print(f"  channel: {channel.findtext('title')}  <{channel.findtext('link')}>")
for item in channel.findall("item"):
    if item.findtext("title") or item.findtext("description"):
        print(f"  {item.findtext('pubDate')}  {item.findtext('title') or '(no title)'}")
PY
