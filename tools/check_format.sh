#!/usr/bin/env bash
# Fails when a C++ file the project tracks differs from what clang-format makes of it with the
# project's .clang-format; prints the differences. `tools/check_format.sh --fix` reformats instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files as clang-format writes them"
