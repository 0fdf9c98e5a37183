#!/usr/bin/env bash
# Runs every test: the native unit tests, the same under AddressSanitizer and UBSan, under
# ThreadSanitizer and built with clang, the Windows build's tests under Wine and its stand-in and
# end-to-end tests again with the stand-ins and test modules built in Microsoft's ABI, the main job
# (scripts/run-host.sh), one round of the benchmarks (that every row is measured, not how fast),
# clang-tidy over the native sources, and the libFuzzer targets for 30 s each.
# Every preset runs even when an earlier one fails; the exit status is non-zero when any of them
# failed.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo" || exit

scripts/install-deps.sh || exit

presets=(native native-asan native-tsan native-clang windows windows-msabi)
declare -A summary
failed=0

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
if scripts/format.sh --check; then
  format_result="passed: every source file is as clang-format lays it out"
else
  format_result="FAILED: run scripts/format.sh"
  failed=1
fi

for preset in "${presets[@]}"; do
  echo "==== $preset ===="
  output="build/test-$preset.log"
  if run_preset "$preset" 2>&1 | tee "$output"; then
    result=passed
  else
    result=FAILED
    failed=1
  fi
  # ctest's own summary: "100% tests passed, 0 tests failed out of N" and the failed tests' names.
  counts=$(grep -E '^[0-9]+% tests passed' "$output" || echo 'no test results (configure or build failed)')
  summary[$preset]="$result: $counts"
  failures=$(sed -n '/^The following tests FAILED:/,$p' "$output" | grep -E '^[[:space:]]+[0-9]+ - ' || true)
  [[ -n $failures ]] && summary[$preset]+=$'\n'"$failures"
done

# The README's first command, the host's main job, so that it stays true.
echo "==== main job ===="
if scripts/run-host.sh >build/test-main-job.log 2>&1; then
  main_job_result="passed: scripts/run-host.sh (its output is in build/test-main-job.log)"
else
  main_job_result="FAILED: see build/test-main-job.log"
  failed=1
fi

# One round of the benchmarks, in the test prefix: the script fails when a row cannot be measured.
echo "==== bench ===="
if scripts/bench.sh --rounds=1 --idle-seconds=1 2>&1 | tee build/test-bench.log; then
  bench_result="passed: every row measured (one round; the figures are in build/test-bench.log)"
else
  bench_result="FAILED: see build/test-bench.log"
  failed=1
fi

# clang-tidy over the native sources (the native build's and the fuzz targets'); any finding fails
# the run, and the summary lists them.
echo "==== tidy ===="
if scripts/tidy.sh 2>&1 | tee build/test-tidy.log; then
  tidy_result=passed
else
  tidy_result=FAILED
  failed=1
fi
tidy_lines=$(sed -n '/^==== tidy summary ====$/,$p' build/test-tidy.log | tail -n +2)
tidy_counts=$(tail -n 1 <<<"$tidy_lines" | sed -E 's/^(passed|FAILED): //')
[[ -z $tidy_lines ]] && tidy_counts='no tidy results (configure failed)'
tidy_findings=$(head -n -1 <<<"$tidy_lines" | sed 's/^/    /')

# Every libFuzzer target for 30 s, after its regression inputs; one summary line per target.
echo "==== fuzz ===="
if scripts/fuzz.sh 30 2>&1 | tee build/test-fuzz.log; then
  fuzz_result=passed
else
  fuzz_result=FAILED
  failed=1
fi
fuzz_targets=$(sed -n '/^==== fuzz summary ====$/,$p' build/test-fuzz.log | tail -n +2)
fuzz_counts="$(grep -c ' passed: ' <<<"$fuzz_targets") of $(grep -c . <<<"$fuzz_targets") targets without findings, 30 s each"
[[ -z $fuzz_targets ]] && fuzz_counts='no fuzz results (configure or build failed)'
fuzz_failures=$(grep -v ' passed: ' <<<"$fuzz_targets" | sed 's/^/    /' || true)

# The prefix's persistent wineserver and its services would outlive the run; nothing needs them now.
(source scripts/wine-env.sh && wineserver -k) >/dev/null 2>&1 || true

echo
echo "==== Summary ===="
printf '%-14s %s\n' format "$format_result"
for preset in "${presets[@]}"; do
  printf '%-14s %s\n' "$preset" "${summary[$preset]}"
done
printf '%-14s %s\n' "main job" "$main_job_result"
printf '%-14s %s\n' bench "$bench_result"
printf '%-14s %s\n' tidy "$tidy_result: $tidy_counts"
[[ -n $tidy_findings ]] && printf '%s\n' "$tidy_findings"
printf '%-14s %s\n' fuzz "$fuzz_result: $fuzz_counts"
[[ -n $fuzz_failures ]] && printf '%s\n' "$fuzz_failures"
exit "$failed"
