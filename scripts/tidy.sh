#!/usr/bin/env bash
# Runs clang-tidy 14 with the repository's .clang-tidy, two sources at a time: the host's logic, the
# doubles and the native tests from the compile commands of the native-clang preset, the fuzz
# targets from those of the fuzz preset, and the Windows sources from those of the windows preset,
# each configured first. Prints each
# finding once, as <file>:<line>:<column> [check] message, with the file named in the source tree
# even when the compiler reached it through a layer's include root; the full output, with the code
# each finding points at, is kept in build/tidy.log. Ends with a summary line and fails on any
# finding, and when clang-tidy cannot check a source.
#
# QX_BUILD_LOCK, when set, names a lock file the configure steps and the runs hold (flock), for a
# machine whose builds must not overlap.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo" || exit

log=build/tidy.log
lock=()
[[ -n ${QX_BUILD_LOCK:-} ]] && lock=(flock "$QX_BUILD_LOCK")
scripts/install-deps.sh || exit
mkdir -p build
: >"$log"
sources=0
tidy_status=0

# tidy <preset> <path pattern> [<clang-tidy option>...]: the sources of the preset's compile
# commands whose path matches.
tidy() {
  local preset=$1 pattern=$2 count
  "${lock[@]}" cmake --preset "$preset" >/dev/null || return
  count=$(grep -oE '"file": "[^"]+"' "build/$preset/compile_commands.json" | sort -u | grep -cE "$pattern")
  echo "clang-tidy over $count sources of build/$preset/compile_commands.json"
  sources=$((sources + count))
  # run-clang-tidy colours its output whatever it is written to.
  "${lock[@]}" run-clang-tidy-14 -j2 -quiet "${@:3}" -p "build/$preset" "$pattern" 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >>"$log"
  return "${PIPESTATUS[0]}"
}

tidy native-clang "$repo/" || tidy_status=1
tidy fuzz "$repo/Tests/Fuzz/" || tidy_status=1
# The Windows sources (the Win32 layer, the control tool, the stand-ins, the sample and the Wine
# tests) through the MinGW build's compile commands, parsed by clang for the MinGW target with
# MinGW's C++ library and Windows headers (GCC's own intrinsics headers are not clang's, so its
# include folder stays out). Nothing there may use std::source_location, which clang 14 cannot
# build from MinGW's libstdc++ 12.
mingw_cxx=$(x86_64-w64-mingw32-g++-posix -print-file-name=include)/c++
tidy windows "$repo/(Shared|Tools|Products|Samples|Tests)/" -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-nostdinc++ \
  -extra-arg="-isystem$mingw_cxx" -extra-arg="-isystem$mingw_cxx/x86_64-w64-mingw32" \
  -extra-arg="-isystem$mingw_cxx/backward" -extra-arg=-isystem/usr/x86_64-w64-mingw32/include || tidy_status=1

# A header's findings come once from every source that includes it; layers/<layer>/ and
# headers/<library>/ stand for Shared/.
findings=$(grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): .*\]$' "$log" |
  sed -E -e "s#^$repo/##" -e 's#^build/[^/]+/(layers|headers)/[^/]+/#Shared/#' \
    -e 's#^([^ ]+): (warning|error): (.*) \[([^],]+)(,-warnings-as-errors)?\]$#\1 [\4] \3#' |
  sort -t: -k1,1 -k2,2n -k3,3n -u)

echo
echo "==== tidy summary ===="
if [[ -n $findings ]]; then
  printf '%s\n' "$findings"
  count=$(grep -c . <<<"$findings")
  files=$(cut -d: -f1 <<<"$findings" | sort -u | wc -l)
  checks=$(grep -oE '\[[^]]+\]' <<<"$findings" | tr -d '[]' | sort | uniq -c | sort -rn |
    awk '{printf "%s%s %s", sep, $2, $1; sep=", "}')
  echo "FAILED: $count finding(s) in $files file(s) of $sources sources: $checks (context in $log)"
  exit 1
fi
if ((tidy_status != 0)); then
  echo "FAILED: clang-tidy did not check every source (see $log)"
  exit 1
fi
echo "passed: $sources sources without findings"
