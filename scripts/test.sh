#!/usr/bin/env bash
# Runs every test: the native unit tests, the same under AddressSanitizer and UBSan, under
# ThreadSanitizer and built with clang, the Windows build's tests under Wine and its stand-in and
# end-to-end tests again with the stand-ins and test modules built in Microsoft's ABI, the main job
# (scripts/run-host.sh), one round of the benchmarks (that every row is measured, not how fast),
# clang-tidy over the native sources, and the libFuzzer targets for 30 s each.
# Every preset runs even when an earlier one fails; the exit status is non-zero when any of them
# failed. The summary gives each step's time.
#
# scripts/test.sh --quick: the edit-and-check loop: the format check, the native preset and the
# windows preset (its Wine tests included), nothing else.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo" || exit

quick=0
case "${1:-}" in
'') ;;
--quick) quick=1 ;;
*)
  echo "usage: scripts/test.sh [--quick]" >&2
  exit 2
  ;;
esac

scripts/install-deps.sh || exit

presets=(native native-asan native-tsan native-clang windows windows-msabi)
((quick)) && presets=(native windows)
declare -A summary
declare -A seconds
failed=0

# began <step>, then ended <step>: the step's wall time for the summary.
began() {
  seconds[$1]=$SECONDS
}
ended() {
  seconds[$1]=$((SECONDS - seconds[$1]))
}

# run_step <step> <log> <command...>: runs the command, its output shown and kept in the log, times
# it, and leaves passed or FAILED in step_result.
run_step() {
  local step=$1 log=$2
  shift 2
  echo "==== $step ===="
  began "$step"
  if "$@" 2>&1 | tee "$log"; then
    step_result=passed
  else
    step_result=FAILED
    failed=1
  fi
  ended "$step"
}

run_preset() {
  local preset=$1
  cmake --preset "$preset" || return
  cmake --build --preset "$preset" || return
  if [[ $preset == windows* ]]; then
    scripts/wine-prefix.sh || return
  fi
  ctest --preset "$preset"
}

mkdir -p build
echo "==== format ===="
began format
if scripts/format.sh --check; then
  format_result="passed: every source file is as clang-format lays it out"
else
  format_result="FAILED: run scripts/format.sh"
  failed=1
fi
ended format

for preset in "${presets[@]}"; do
  output="build/test-$preset.log"
  run_step "$preset" "$output" run_preset "$preset"
  # ctest's own summary: "100% tests passed, 0 tests failed out of N" and the failed tests' names.
  counts=$(grep -E '^[0-9]+% tests passed' "$output" || echo 'no test results (configure or build failed)')
  summary[$preset]="$step_result: $counts"
  failures=$(sed -n '/^The following tests FAILED:/,$p' "$output" | grep -E '^[[:space:]]+[0-9]+ - ' || true)
  [[ -n $failures ]] && summary[$preset]+=$'\n'"$failures"
done

# A step's line of the summary: its name, its time and its result.
summary_line() {
  printf '%-14s %6s  %s\n' "$1" "${seconds[$1]} s" "$2"
}

# Ends the prefix's persistent wineserver and its services, which would outlive the run, and opens
# the summary with the format check and the presets.
begin_summary() {
  (source scripts/wine-env.sh && wineserver -k) >/dev/null 2>&1 || true
  echo
  echo "==== Summary$1 ===="
  summary_line format "$format_result"
  for preset in "${presets[@]}"; do
    summary_line "$preset" "${summary[$preset]}"
  done
}

if ((quick)); then
  begin_summary " (--quick)"
  exit "$failed"
fi

# The README's first command, the host's main job, so that it stays true.
echo "==== main job ===="
began "main job"
if scripts/run-host.sh >build/test-main-job.log 2>&1; then
  main_job_result="passed: scripts/run-host.sh (its output is in build/test-main-job.log)"
else
  main_job_result="FAILED: see build/test-main-job.log"
  failed=1
fi
ended "main job"

# One round of the benchmarks, in the test prefix: the script fails when a row cannot be measured.
run_step bench build/test-bench.log scripts/bench.sh --rounds=1 --idle-seconds=1
if [[ $step_result == passed ]]; then
  bench_result="passed: every row measured (one round; the figures are in build/test-bench.log)"
else
  bench_result="FAILED: see build/test-bench.log"
fi

# clang-tidy over the native sources (the native build's and the fuzz targets'); any finding fails
# the run, and the summary lists them.
run_step tidy build/test-tidy.log scripts/tidy.sh
tidy_result=$step_result
tidy_lines=$(sed -n '/^==== tidy summary ====$/,$p' build/test-tidy.log | tail -n +2)
tidy_counts=$(tail -n 1 <<<"$tidy_lines" | sed -E 's/^(passed|FAILED): //')
[[ -z $tidy_lines ]] && tidy_counts='no tidy results (configure failed)'
tidy_findings=$(head -n -1 <<<"$tidy_lines" | sed 's/^/    /')

# Every libFuzzer target for 30 s, after its regression inputs; one summary line per target.
run_step fuzz build/test-fuzz.log scripts/fuzz.sh 30
fuzz_result=$step_result
fuzz_targets=$(sed -n '/^==== fuzz summary ====$/,$p' build/test-fuzz.log | tail -n +2)
fuzz_counts="$(grep -c ' passed: ' <<<"$fuzz_targets") of $(grep -c . <<<"$fuzz_targets") targets without findings, 30 s each"
[[ -z $fuzz_targets ]] && fuzz_counts='no fuzz results (configure or build failed)'
fuzz_failures=$(grep -v ' passed: ' <<<"$fuzz_targets" | sed 's/^/    /' || true)

begin_summary ""
summary_line "main job" "$main_job_result"
summary_line bench "$bench_result"
summary_line tidy "$tidy_result: $tidy_counts"
[[ -n $tidy_findings ]] && printf '%s\n' "$tidy_findings"
summary_line fuzz "$fuzz_result: $fuzz_counts"
[[ -n $fuzz_failures ]] && printf '%s\n' "$fuzz_failures"
echo "total: $SECONDS s"
exit "$failed"
