#!/usr/bin/env bash
# Sets Md5Hex's throughput beside OpenSSL's MD5 on this machine and prints MB/s (10^6 bytes) of
# each and their ratio (reference / ours: above 1 means ours is slower), best of ROUNDS runs:
#   16 MB: BM_Md5Hex/16777216 against `openssl dgst -md5` (else md5sum) on a 16 MB file; the
#          time the same command takes on an empty file (process start) is subtracted.
#   With openssl here, also both sizes against `openssl speed -evp md5`, which hashes in memory
#   with no file reading and no process start.
# Usage: bench/md5_ratio.sh [path-to-md5_bench]   (default build/bench/md5_bench)
set -euo pipefail
bench=${1:-build/bench/md5_bench}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best MB/s of one benchmark case over the repetitions.
bench_rate() {
  "$bench" --benchmark_filter="^BM_Md5Hex/$1\$" --benchmark_repetitions="$rounds" \
    --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ && $6 > best { best = $6 }
      END { printf "%.1f", best / 1e6 }'
}

# Best wall time in nanoseconds of a command over the rounds.
best_ns() {
  local best=0 start elapsed
  for ((round = 0; round < rounds; ++round)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    elapsed=$(($(date +%s%N) - start))
    if ((best == 0 || elapsed < best)); then best=$elapsed; fi
  done
  echo "$best"
}

report() {
  awk -v size="$1" -v ours="$2" -v name="$3" -v ref="$4" 'BEGIN {
    printf "%-5s Md5Hex %8.1f MB/s   %-18s %8.1f MB/s   ratio %.2f\n", size, ours, name, ref, ref / ours }'
}

if command -v openssl >/dev/null; then
  reference=(openssl dgst -md5) name="openssl dgst -md5"
else
  reference=(md5sum) name="md5sum"
fi
head -c $((16 << 20)) /dev/urandom >"$work/16m"
: >"$work/empty"
full=$(best_ns "${reference[@]}" "$work/16m")
empty=$(best_ns "${reference[@]}" "$work/empty")
reference_rate=$(awk -v f="$full" -v e="$empty" 'BEGIN { printf "%.1f", (16 * 2^20) / ((f - e) / 1e9) / 1e6 }')
report "16 MB" "$(bench_rate 16777216)" "$name" "$reference_rate"

# Best MB/s of OpenSSL's in-memory MD5 on blocks of the given size.
speed_rate() {
  local best=0 rate
  for ((round = 0; round < rounds; ++round)); do
    rate=$(openssl speed -evp md5 -bytes "$1" -seconds 1 2>/dev/null |
      awk '/^md5/ { sub("k", "", $2); printf "%.1f", $2 / 1000 }')
    best=$(awk -v a="$best" -v b="$rate" 'BEGIN { print (b > a ? b : a) }')
  done
  echo "$best"
}

if command -v openssl >/dev/null; then
  report "16 MB" "$(bench_rate 16777216)" "openssl speed" "$(speed_rate $((16 << 20)))"
  report "64 B" "$(bench_rate 64)" "openssl speed" "$(speed_rate 64)"
fi
