#!/usr/bin/env bash
# Serves a 10 kB "all.xml" from one scratch folder with the built-in HTTP/1.0 server
# (build/tools/serve-directory), nginx and `python3 -m http.server`, all on 127.0.0.1, and prints
# for each: requests/s, p50 and p99 latency, processor time and context switches per request
# under `ab` (HTTP/1.0, one request per connection) with 1, 10 and 50 concurrent clients (5,000,
# 10,000 and 5,000 requests a run), best of 3 runs; our rates as a ratio of nginx's and Python's;
# failed and non-2xx requests and wrong body lengths, if any. Then our server's resident memory
# (VmRSS) and thread count right after the runs, once idle (with the processor time and context
# switches of 5 idle seconds) and with 20 idle connections held open.
#
#   bench/http_server_bench.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# Needs ab (apache2-utils), nginx and python3; it installs nothing. On a machine without them:
#   apt-get install -y apache2-utils nginx
# Installing nginx starts its system service on port 80 unless /usr/sbin/policy-rc.d exists and
# exits 101: create that file first (`printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d;
# chmod +x /usr/sbin/policy-rc.d`) if you want no service. This script never uses the service:
# it runs the nginx binary with a configuration of its own, in the scratch folder, on a high
# loopback port. The servers and the load generator share the machine's cores.
# SPACING (seconds, default 3) is the pause between runs, so the sockets a run leaves in
# TIME_WAIT do not weigh on the next; LIMIT (seconds, default 20) ends a run that takes longer:
# at 50 clients the listen backlog of 5 (ours and Python's) overflows, and clients wait for
# their retransmitted connection requests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
spacing=${SPACING:-3}
limit=${LIMIT:-20}
rounds=3

missing=()
command -v ab >/dev/null || missing+=(apache2-utils)
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
[[ -x $nginx_bin ]] || missing+=(nginx)
command -v python3 >/dev/null || missing+=(python3)
if ((${#missing[@]})); then
  echo "missing: ${missing[*]}; install with: apt-get install -y ${missing[*]}" >&2
  echo "(installing nginx starts its service unless /usr/sbin/policy-rc.d exits 101)" >&2
  exit 1
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target serve-directory >/dev/null
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
sanitizer=$(sed -n 's/^ZV_SANITIZER:[A-Z]*=//p' "$build/CMakeCache.txt")

work=$(mktemp -d)
# nginx's workers may run as another user; they must read the served folder.
chmod 755 "$work"
pids=()  # the processes this script started and has not stopped yet
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
forget() {
  local kept=() pid
  for pid in "${pids[@]}"; do [[ $pid == "$1" ]] || kept+=("$pid"); done
  pids=("${kept[@]}")
}

# ---------------------------------------------------------------------------------------------
# The feed: a plausible merged RSS 2.0 channel of about 10 kB.
mkdir "$work/www"
python3 - "$work/www/all.xml" <<'PY'
import sys
from datetime import datetime, timedelta
from xml.sax.saxutils import escape

words = ("morning walk river bridge coffee rain letter garden train music winter book "
         "friends market evening light harbour story window city").split()
items, moment = [], datetime(2009, 3, 14, 21, 5)
for n in range(12):
    title = "%s and the %s" % (words[n % len(words)].capitalize(), words[(n * 7 + 3) % len(words)])
    text = " ".join(words[(n + k * 3) % len(words)] for k in range(70 + 9 * (n % 4)))
    items.append(
        "<item>\n<title>%s</title>\n<link>http://friend%d.zarnik.example/%d.html</link>\n"
        "<guid isPermaLink=\"true\">http://friend%d.zarnik.example/%d.html</guid>\n"
        "<pubDate>%s</pubDate>\n<author>friend%d</author>\n<description>%s</description>\n</item>\n"
        % (escape(title), n % 5, 1000 + n, n % 5, 1000 + n,
           moment.strftime("%a, %d %b %Y %H:%M:%S GMT"), n % 5, escape("<p>%s.</p>" % text)))
    moment -= timedelta(hours=5, minutes=17 * n)
feed = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
        "<title>Friends of abc</title>\n<link>http://www.zarnik.example/users/abc/friends</link>\n"
        "<description>The newest entries of abc's friends</description>\n"
        + "".join(items) + "</channel>\n</rss>\n")
open(sys.argv[1], "w").write(feed)
PY
size=$(stat -c %s "$work/www/all.xml")

# A port nobody listens on now (the kernel's choice for port 0).
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# Waits until GET /all.xml on the port answers, at most 10 s.
wait_ready() {
  python3 - "$1" <<'PY' || { echo "the server on port $1 did not answer" >&2; exit 1; }
import sys, time, urllib.request
for _ in range(100):
    try:
        urllib.request.urlopen("http://127.0.0.1:%s/all.xml" % sys.argv[1], timeout=2).read()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PY
}

# ---------------------------------------------------------------------------------------------
# The three servers.
declare -A port
mkdir "$work/nginx" "$work/nginx/temp"
port[nginx]=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log stderr warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_timeout 0;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/temp/body;
  proxy_temp_path $work/nginx/temp/proxy;
  fastcgi_temp_path $work/nginx/temp/fastcgi;
  uwsgi_temp_path $work/nginx/temp/uwsgi;
  scgi_temp_path $work/nginx/temp/scgi;
  server {
    listen 127.0.0.1:${port[nginx]};
    root $work/www;
  }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e stderr 2>"$work/nginx/stderr" &
nginx_pid=$!
pids+=("$nginx_pid")

port[python]=$(free_port)
python3 -m http.server --bind 127.0.0.1 "${port[python]}" --directory "$work/www" \
  >/dev/null 2>&1 &
python_pid=$!
pids+=("$python_pid")

"$build/tools/serve-directory" 0 "$work/www" >"$work/ours.out" 2>&1 &
ours_pid=$!
pids+=("$ours_pid")
for _ in $(seq 100); do
  grep -q '^PORT ' "$work/ours.out" && break
  sleep 0.1
done
port[ours]=$(sed -n 's/^PORT //p' "$work/ours.out")
if [[ -z ${port[ours]} ]]; then
  echo "serve-directory did not start: $(cat "$work/ours.out")" >&2
  exit 1
fi

# Resident memory (kB), thread count and open descriptors of our server, before any request.
vm_rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$ours_pid/status"; }
threads() { awk '/^Threads:/ { print $2 }' "/proc/$ours_pid/status"; }
descriptors() { find "/proc/$ours_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
rss_start=$(vm_rss) threads_start=$(threads) descriptors_start=$(descriptors)

for server in ours nginx python; do wait_ready "${port[$server]}"; done

# The processes of a server: ours, nginx's master and workers, Python's.
declare -A server_pids
server_pids[ours]=$ours_pid
server_pids[nginx]="$nginx_pid $(pgrep -P "$nginx_pid" | tr '\n' ' ')"
server_pids[python]=$python_pid
# Processor time (clock ticks, user and system) and context switches of a server's processes and
# threads so far: "ticks switches". The processor time includes threads that have ended, the
# switches only those of the threads there now.
usage() {
  local pid task ticks=0 switches=0 count
  for pid in ${server_pids[$1]}; do
    ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
    for task in /proc/"$pid"/task/*; do
      # A thread may end between the listing and the reading.
      count=$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$task/status" 2>/dev/null)
      switches=$((switches + ${count:-0}))
    done
  done
  echo "$ticks $switches"
}
tick_us=$((1000000 / $(getconf CLK_TCK)))

# Waits, at most 35 s, until our server has no connection left from an earlier run (one that
# never sent its request holds its connection until the 30 s receive time-out); prints the
# seconds. Its connection threads may stay a while longer, waiting for the next connection.
wait_ours_idle() {
  local tenths=0
  while (($(descriptors) > descriptors_start && tenths < 350)); do
    sleep 0.1
    tenths=$((tenths + 1))
  done
  echo $((tenths / 10))
}

# ---------------------------------------------------------------------------------------------
# Runs.
declare -A best_rate best_p50 best_p99 best_cpu best_switches notes

# One ab run; prints "rate p50 p99 complete note", the latencies in ms from ab's percentile table.
# ab gives up on the first connection error unless told to go on (-r): then it runs again with
# -r, and the note says so. A run also ends after LIMIT seconds (Python's server at 50 clients
# needs that); a run that fails whole prints "-".
ab_run() {
  local server=$1 clients=$2 requests=$3 out=$work/ab.out flag=
  local url=http://127.0.0.1:${port[$server]}/all.xml
  rm -f "$work/percentiles.csv"
  if ! timeout 300 ab -q -t "$limit" -n "$requests" -c "$clients" -e "$work/percentiles.csv" \
    "$url" >"$out" 2>&1; then
    flag=-r
    if ! timeout 300 ab -q -r -t "$limit" -n "$requests" -c "$clients" \
      -e "$work/percentiles.csv" "$url" >"$out" 2>&1; then
      echo "- - - 0 ab-failed($(tail -1 "$out" | tr -s ' ' _))"
      return
    fi
  fi
  local p50 p99
  p50=$(awk -F, '$1 == 50 { print $2 }' "$work/percentiles.csv")
  p99=$(awk -F, '$1 == 99 { print $2 }' "$work/percentiles.csv")
  awk -v size="$size" -v flag="$flag" -v requests="$requests" -v p50="${p50:--}" \
    -v p99="${p99:--}" '
    /^Document Length:/ { length_seen = $3 }
    /^Complete requests:/ { complete = $3 }
    /^Failed requests:/ { failed = $3 }
    /^   \(Connect:/ {  # the kinds of failure that occurred, as "length12/exceptions3"
      gsub(/[(),:]/, "")
      for (i = 1; i < NF; i += 2)
        if ($(i + 1) > 0) kinds = kinds (kinds == "" ? "" : "/") tolower($i) $(i + 1)
    }
    /^Non-2xx responses:/ { non2xx = $3 }
    /^Requests per second:/ { rate = $4 }
    END {
      note = ""
      if (flag != "") note = note " ab-r"
      if (complete != requests) note = note " complete=" complete
      if (length_seen != size) note = note " length=" length_seen
      if (failed + 0 > 0) note = note " failed=" failed "(" kinds ")"
      if (non2xx + 0 > 0) note = note " non2xx=" non2xx
      printf "%s %s %s %s %s\n", rate, p50, p99, complete + 0, (note == "" ? "-" : substr(note, 2))
    }' "$out"
}

add_note() { notes[$1]="${notes[$1]:-}${notes[$1]:+,}$2"; }

# One run of a case with the server's processor time and context switches per request; keeps the
# best rate of a case with the figures of that run; notes add up over the runs.
measure() {
  local server=$1 clients=$2 requests=$3 key=$1/$2 before after rate p50 p99 complete note
  before=$(usage "$server")
  read -r rate p50 p99 complete note <<<"$(ab_run "$server" "$clients" "$requests")"
  after=$(usage "$server")
  [[ $note == - ]] || add_note "$key" "${note// /,}"
  [[ $rate == - || $complete == 0 ]] && return
  if [[ -z ${best_rate[$key]:-} ]] ||
    awk -v a="$rate" -v b="${best_rate[$key]}" 'BEGIN { exit !(a > b) }'; then
    best_rate[$key]=$rate best_p50[$key]=$p50 best_p99[$key]=$p99
    read -r best_cpu[$key] best_switches[$key] <<<"$(awk -v b="$before" -v a="$after" \
      -v n="$complete" -v tick="$tick_us" 'BEGIN {
        split(b, x, " "); split(a, y, " ")
        printf "%.0f %.2f\n", (y[1] - x[1]) * tick / n, (y[2] - x[2]) / n }')"
  fi
}

flavour=${build_type:-unset}${sanitizer:+ with $sanitizer sanitizer}
echo "Serving all.xml of $size bytes; serve-directory built as $flavour"
echo "warming up..."
for server in ours nginx python; do ab_run "$server" 10 500 >/dev/null; done
sleep "$spacing"

cases=("1 5000" "10 10000" "50 5000")
for ((round = 1; round <= rounds; ++round)); do
  echo "round $round of $rounds..."
  for entry in "${cases[@]}"; do
    read -r clients requests <<<"$entry"
    for server in ours nginx python; do
      if [[ $server == ours ]]; then
        waited=$(wait_ours_idle)
        ((waited < 1)) || add_note "ours/$clients" "idle-after-${waited}s"
      fi
      measure "$server" "$clients" "$requests"
      sleep "$spacing"
    done
  done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
printf "%-8s %7s %10s %8s %8s %9s %9s %10s %11s  %s\n" server clients "requests/s" "p50 ms" \
  "p99 ms" "cpu us/r" "switch/r" ours/nginx ours/python notes
for entry in "${cases[@]}"; do
  read -r clients _ <<<"$entry"
  for server in ours nginx python; do
    key=$server/$clients to_nginx=- to_python=-
    if [[ $server == ours && -n ${best_rate[$key]:-} ]]; then
      [[ -z ${best_rate[nginx/$clients]:-} ]] ||
        to_nginx=$(ratio "${best_rate[$key]}" "${best_rate[nginx/$clients]}")
      [[ -z ${best_rate[python/$clients]:-} ]] ||
        to_python=$(ratio "${best_rate[$key]}" "${best_rate[python/$clients]}")
    fi
    printf "%-8s %7s %10s %8s %8s %9s %9s %10s %11s  %s\n" "$server" "$clients" \
      "${best_rate[$key]:--}" "${best_p50[$key]:--}" "${best_p99[$key]:--}" \
      "${best_cpu[$key]:--}" "${best_switches[$key]:--}" "$to_nginx" "$to_python" \
      "${notes[$key]:-}"
  done
done
echo "(best of $rounds runs by requests/s, with the latencies, processor time (user and system, of"
echo " the server's processes) and context switches per request of that run. Notes: complete=N:"
echo " the run hit LIMIT; length: bodies of another length, such as our server's refusal beyond"
echo " 20 connections; exceptions: connections that failed; ab-r: ab had to be told to go on after"
echo " a connection error; idle-after: our server still held connections of the run before)"

# ---------------------------------------------------------------------------------------------
# Our server's memory, threads and processor use: after the runs, once idle, and with 20 idle
# connections held open.
echo
wait_ours_idle >/dev/null
rss_runs=$(vm_rss) threads_runs=$(threads)
# Connection threads wait for the next connection a while (30 s), then end.
idle_waited=0
while (($(threads) > threads_start && idle_waited < 40)); do
  sleep 1
  idle_waited=$((idle_waited + 1))
done
rss_idle=$(vm_rss) threads_idle=$(threads)
read -r idle_ticks idle_switches <<<"$(usage ours)"
sleep 5
read -r ticks switches <<<"$(usage ours)"
idle_ticks=$((ticks - idle_ticks)) idle_switches=$((switches - idle_switches))

python3 - "${port[ours]}" >"$work/holder.out" <<'PY' &
import socket, sys, time
held = [socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) for _ in range(20)]
print("held", flush=True)
time.sleep(20)  # until the script ends it; never longer
PY
holder=$!
pids+=("$holder")
for _ in $(seq 100); do
  grep -q held "$work/holder.out" && (($(threads) >= threads_idle + 20)) && break
  sleep 0.05
done
rss_held=$(vm_rss) threads_held=$(threads)
kill "$holder"
wait "$holder" 2>/dev/null || true
forget "$holder"
wait_ours_idle >/dev/null
threads_closed=$(threads)

printf "our server: at start VmRSS %s kB, %s threads; right after the runs %s kB, %s threads\n" \
  "$rss_start" "$threads_start" "$rss_runs" "$threads_runs"
printf "            idle %s s later %s kB, %s threads; in 5 idle seconds then %s clock ticks" \
  "$idle_waited" "$rss_idle" "$threads_idle" "$idle_ticks"
printf " and %s context switches\n" "$idle_switches"
printf "            with 20 idle connections open: VmRSS %s kB, %s threads" \
  "$rss_held" "$threads_held"
printf " (%s once they closed, their threads waiting for the next)\n" "$threads_closed"

# A clean stop on SIGTERM: the server waits for its connections and the tool exits 0.
kill -TERM "$ours_pid"
status=0
wait "$ours_pid" || status=$?
forget "$ours_pid"
((status == 0)) || echo "serve-directory exited with status $status on SIGTERM" >&2
