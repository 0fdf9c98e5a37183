#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, clang) and runs each of them: first over its
# regression inputs (Tests/Fuzz/regressions/<target>/), then fuzzing for the given seconds
# (default 30), seeded from Tests/Fuzz/corpus/<target>/. The corpus grows in
# build/fuzz/corpus/<target>, kept between runs, so the tree never changes; an input that fails is
# copied to build/fuzz/findings and fails the run. Prints one summary line per target.
#
# QX_BUILD_LOCK, when set, names a lock file the configure and build steps hold (flock), for a
# machine whose builds must not overlap.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo" || exit

seconds=${1:-30}
out=build/fuzz
mapfile -t targets < <(find Tests/Fuzz -maxdepth 1 -name '*Fuzz.cpp' -printf '%f\n' | sed 's/Fuzz\.cpp$//' | sort)

lock=()
[[ -n ${QX_BUILD_LOCK:-} ]] && lock=(flock "$QX_BUILD_LOCK")
scripts/install-deps.sh || exit
"${lock[@]}" cmake --preset fuzz || exit
"${lock[@]}" cmake --build --preset fuzz || exit

mkdir -p "$out/findings" "$out/logs"
declare -A summary
failed=0

# Copies what libFuzzer left in the artifact folder to the findings and names the copies.
keep_findings() {
  local target=$1 artifacts=$2 kept=()
  for artifact in "$artifacts"/*; do
    [[ -f $artifact ]] || continue
    cp "$artifact" "$out/findings/$target-$(basename "$artifact")"
    kept+=("$out/findings/$target-$(basename "$artifact")")
  done
  echo "${kept[*]:-no input kept}"
}

# Runs the reproducers once each; prints how many there are, or the one that fails.
run_regressions() {
  local target=$1 executable=$2 log=$3 inputs
  mapfile -t inputs < <(find "Tests/Fuzz/regressions/$target" -type f ! -name .gitkeep | sort)
  if ((${#inputs[@]} > 0)) && ! "$executable" "${inputs[@]}" >"$log" 2>&1; then
    echo "FAILED: regression input $(grep -oE 'Running: .*' "$log" | tail -1 | cut -d' ' -f2-)"
    return 1
  fi
  echo "${#inputs[@]} regression input(s)"
}

# Fuzzes from the kept corpus, seeded from the tree; prints the runs and the coverage reached.
run_fuzzing() {
  local target=$1 executable=$2 log=$3
  local corpus="$out/corpus/$target" artifacts="$out/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  rm -f "$artifacts"/*
  cp -n "Tests/Fuzz/corpus/$target"/* "$corpus/"
  if ! "$executable" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    echo "FAILED: finding kept in $(keep_findings "$target" "$artifacts")"
    return 1
  fi
  local runs coverage
  runs=$(grep -oE '^stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$')
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -1 |
    sed -E 's/cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+)/\1 edges, \2 features, corpus of \3/')
  echo "${runs:-?} runs in $seconds s, ${coverage:-no coverage reported}"
}

for target in "${targets[@]}"; do
  echo "==== fuzz $target ===="
  executable="$out/Tests/Fuzz/Qx${target}Fuzz"
  regressions="" fuzzing=""
  if regressions=$(run_regressions "$target" "$executable" "$out/logs/$target-regressions.log") &&
    fuzzing=$(run_fuzzing "$target" "$executable" "$out/logs/$target.log"); then
    summary[$target]="passed: $regressions, $fuzzing"
  else
    summary[$target]="${fuzzing:-$regressions} (log: $out/logs)"
    failed=1
  fi
  echo "${summary[$target]}"
done

echo
echo "==== fuzz summary ===="
for target in "${targets[@]}"; do
  printf '%-16s %s\n' "$target" "${summary[$target]}"
done
exit "$failed"
