#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer; TinyXML compiled from Debian's source package so that it is instrumented too) and
# runs each for a short fixed time on its committed seeds. A crash, a leak or a broken property
# fails the run, and the input that did it is left in build-fuzz/crashes/.
#
#   tools/fuzz.sh [SECONDS]      (each target's time; 30 by default; as root on Debian 12)
#
# What a run finds beyond the seeds stays in build-fuzz/corpus/NAME/ for the next run; the
# committed seeds in fuzz/corpus/NAME/ are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-fuzz
seconds=${1:-30}
jobs=$(nproc 2>/dev/null || echo 2)

echo "== fuzzers: TinyXML from Debian's source package"
tools/fetch_tinyxml.sh "$build/third_party" >/dev/null </dev/null

echo "== fuzzers: configure and build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZV_BUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DZV_BUILD_BENCHMARKS=OFF \
  -DZV_DESKTOP_FRONT_END=OFF >/dev/null
cmake --build "$build" -j "$jobs"

mkdir -p "$build/crashes"
while read -r name; do
  [[ -n $name ]] || continue
  mkdir -p "$build/corpus/$name"
  options=(-max_total_time="$seconds" -print_final_stats=1
           -artifact_prefix="$build/crashes/$name-")
  if [[ -f fuzz/dictionaries/$name.dict ]]; then
    options+=(-dict="fuzz/dictionaries/$name.dict")
  fi
  echo "== fuzzing $name for $seconds s"
  # The outer limit only guards against a target that hangs outside libFuzzer's own clock.
  timeout $((seconds + 300)) "$build/fuzz/$name" "${options[@]}" \
    "$build/corpus/$name" "fuzz/corpus/$name" </dev/null 2>"$build/$name.log" ||
    { tail -n 60 "$build/$name.log"; echo "== $name failed; its input is in $build/crashes/"; exit 1; }
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' \
    "$build/$name.log" || true
done <"$build/fuzz/fuzzers.txt"
echo "== every fuzzer ran clean"
