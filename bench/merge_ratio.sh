#!/usr/bin/env bash
# Runs the merge benchmark and TinyXML's bare load in separate processes, alternating, and prints
# the median time of each and their ratio per friend count, then (with valgrind) instruction
# counts, then the peak memory of merging one and five friends of 400,000 entries each. Separate
# processes keep one run's heap and cache from colouring the other's figures.
set -euo pipefail
bench=${1:-build/bench/merge_bench}
rounds=${ROUNDS:-3}

for friends in 10 100 500; do
  for name in TinyXmlLoadOnly WholeMerge; do
    : > "/tmp/zv-bench-$name"
  done
  for ((round = 0; round < rounds; ++round)); do
    for name in TinyXmlLoadOnly WholeMerge; do
      "$bench" --benchmark_filter="BM_$name/$friends\$" --benchmark_min_time=2 \
        --benchmark_format=csv 2>/dev/null | awk -F, '/^"BM_/ { print $4 }' >> "/tmp/zv-bench-$name"
    done
  done
  load=$(sort -g /tmp/zv-bench-TinyXmlLoadOnly | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  merge=$(sort -g /tmp/zv-bench-WholeMerge | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  awk -v f="$friends" -v l="$load" -v m="$merge" 'BEGIN {
    printf "%4d friends: TinyXML load %8.1f ms, whole merge %8.1f ms, ratio %.2f\n", f, l, m, m / l }'
done
rm -f /tmp/zv-bench-TinyXmlLoadOnly /tmp/zv-bench-WholeMerge

# Wall times on a shared machine wander by a third from run to run; instruction counts do not.
if command -v valgrind >/dev/null; then
  for name in TinyXmlLoadOnly WholeMerge; do
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect="*BM_$name*" \
      "$bench" --benchmark_filter="BM_$name/100\$" --benchmark_min_time=0 2>&1 |
      awk -v n="$name" '/Collected/ { print n, $4 }'
  done | awk '{ gsub(",", "", $2); count[$1] = $2 }
    END { printf " 100 friends: instructions, TinyXML load %d, whole merge %d, ratio %.2f\n",
                 count["TinyXmlLoadOnly"], count["WholeMerge"], count["WholeMerge"] / count["TinyXmlLoadOnly"] }'
fi

# Each merge runs in a process of its own, whose peak resident memory is its ru_maxrss.
"$bench" --benchmark_filter='BM_MergePeakMemory' --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"BM_MergePeakMemory/ { split($1, name, "/"); printf \
    "%4d friends of 400,000 entries: peak memory of the merge %6.0f MiB\n", name[2], $NF }'
