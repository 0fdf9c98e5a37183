#!/usr/bin/env bash
# Formats the C and C++ sources with the repository's .clang-format; with --check, only reports
# the files that differ and fails when there is one.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [[ ${1:-} == --check ]]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
