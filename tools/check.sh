#!/usr/bin/env bash
# Runs the fake journal service's tests and checks the include layers and the format, then builds
# everything and runs every test: once as shipped, once under AddressSanitizer with
# UndefinedBehaviorSanitizer, once under ThreadSanitizer. Then runs every fuzz target for a short
# time (tools/fuzz.sh), builds the Windows program and runs its tests under Wine
# (tools/windows_build.sh, which installs what it needs). Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  echo "== ${dir}: configure and build"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== ${dir}: tests"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

echo "== the fake journal service: its own tests"
python3 -m unittest discover -s tools/fake_journal

echo "== the layers docs/architecture.md writes down, and the format"
python3 tests/tools/check_layers_test.py
python3 tools/check_layers.py
tools/check_format.sh

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZER=address -DZV_BUILD_BENCHMARKS=OFF
TSAN_OPTIONS=halt_on_error=1 \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_SANITIZER=thread -DZV_BUILD_BENCHMARKS=OFF
tools/fuzz.sh
tools/windows_build.sh
echo "== all suites passed"
