#!/usr/bin/env python3
"""One update cycle for many friends against the fake journal service, with figures.

    bench/update_cycle_bench.py [BUILD_DIR] [--friends N] [--entries M] [--stall S]

Runs BUILD_DIR/tools/update-once (default build/) once for a generated user who follows N
journals of M entries each, with a password, so every feed takes the Digest exchange. One
journal answers S seconds late, so the slowest download is known to be there.

Prints the wall time beside the design's floor (the 500 ms stagger times N, plus the slowest
download as the service measured it), the CPU time, the peak number of threads and the peak
resident memory of the program.
"""
import argparse
import datetime
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STAGGER_SECONDS = 0.5


def make_data(folder, friends, entries, stall):
    names = ["friend_%02d" % i for i in range(friends)]
    start = datetime.datetime(2009, 1, 1)
    journals = {}
    for index, name in enumerate(names):
        items = []
        for n in range(entries):
            moment = start + datetime.timedelta(minutes=37 * (index * entries + n))
            items.append({
                "title": "%s entry %d" % (name, n),
                "date": moment.strftime("%Y-%m-%d %H:%M"),
                "description": "<p>%s</p>" % ("Some text &amp; more. " * 60),
                "security": "usemask" if n % 5 == 0 else "public",
            })
        journals[name] = {"dialect": ["2.0", "0.91", "0.92", "1.0"][index % 4],
                          "title": name, "entries": items}
    journals[names[-1]]["fault"] = {"kind": "stall", "seconds": stall}
    data = {"users": {"bench": {"password": "pw", "friends": names, "friend_of": []}},
            "journals": journals}
    with open(os.path.join(folder, "service.json"), "w") as out:
        json.dump(data, out)


def start_service(folder):
    service = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tools/fake_journal/fake_journal.py"), folder],
        stdout=subprocess.PIPE, text=True)
    line = service.stdout.readline()
    if not line.startswith("PORT "):
        service.kill()
        sys.exit("the fake journal service did not start")
    return service, int(line.split()[1])


def peak_threads_while(process):
    """Follows the program's thread count until it ends; sampling 100 times a second."""
    peak = 0
    status = "/proc/%d/status" % process.pid
    while process.poll() is None:
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith("Threads:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.01)
    return peak


def slowest_download(log_path):
    """The longest time one journal's feed took, its Digest challenge and answer together."""
    per_journal = {}
    with open(log_path) as log:
        for line in log:
            record = json.loads(line)
            if record.get("journal"):
                per_journal[record["journal"]] = (per_journal.get(record["journal"], 0.0)
                                                  + record["seconds"])
    return max(per_journal.values())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--friends", type=int, default=50)
    parser.add_argument("--entries", type=int, default=25)
    parser.add_argument("--stall", type=float, default=1.0)
    args = parser.parse_args()
    program = os.path.join(args.build_dir, "tools/update-once")

    with tempfile.TemporaryDirectory() as work:
        make_data(work, args.friends, args.entries, args.stall)
        service, port = start_service(work)
        try:
            with open(os.path.join(work, "service.conf"), "w") as conf:
                conf.write("site = http://www.zarnik.test:%d\n" % port)
                conf.write("journal_domain = zarnik.test:%d\n" % port)
                conf.write("users_host = users.zarnik.test:%d\n" % port)
                conf.write("resolve = *.zarnik.test 127.0.0.1\n")
            temp = os.path.join(work, "temp")
            os.mkdir(temp)
            env = dict(os.environ, TEMP=temp, ZV_PASSWORD="pw")
            began = time.monotonic()
            program_run = subprocess.Popen([program, conf.name, "bench"], env=env,
                                           stdout=subprocess.DEVNULL)
            threads = peak_threads_while(program_run)
            wall = time.monotonic() - began
            # Only the program has been waited for yet, so these are its figures alone.
            usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        finally:
            service.terminate()
            service.wait()
        slowest = slowest_download(os.path.join(work, "requests.log"))

    floor = STAGGER_SECONDS * args.friends + slowest
    print("friends            %d (%d entries each, one stalled %.1f s)"
          % (args.friends, args.entries, args.stall))
    print("wall time          %.2f s" % wall)
    print("floor              %.2f s  (%.1f s stagger + %.2f s slowest download)"
          % (floor, STAGGER_SECONDS * args.friends, slowest))
    print("above the floor    %+.1f %%" % (100.0 * (wall - floor) / floor))
    print("CPU time           %.3f s user + %.3f s system = %.1f %% of the wall time"
          % (usage.ru_utime, usage.ru_stime, 100.0 * (usage.ru_utime + usage.ru_stime) / wall))
    print("peak threads       %d" % threads)
    print("peak memory (RSS)  %.1f MB" % (usage.ru_maxrss / 1024.0))


if __name__ == "__main__":
    main()
