#!/usr/bin/env bash
# The benchmarks: what the host costs under Wine beside a minimal service, and what its log
# statements cost natively. Prints numbers and ratios, then the goals table with the measured value
# of each row. Nothing passes or fails by time: the script fails only when a row cannot be measured.
# The test command runs it for one round, to show that every row is printed; a full run takes
# several minutes.
#
#     scripts/bench.sh [--rounds=<n>] [--idle-seconds=<s>] [--cpus=<list>]
#
# --rounds: rounds of the interleaved start and stop and of the crash runs (default 15);
# --idle-seconds: how long the idle services run (default 60). A quick run: --rounds=5
# --idle-seconds=10. --cpus: run the Wine part on these CPUs only (a taskset list, such as 0): the
# wineserver starts on them, so that the Service Control Manager and every service process it starts
# run there too. On a virtual machine a wake-up on another, idle CPU can cost tens of microseconds,
# and the server is woken at every request: on one CPU the starts lose that cost and its
# randomness, and the figures repeat from run to run.
#
# It builds what it needs: the windows preset, and the native benchmarks in Release
# (build/bench-native: the native preset builds Debug, which times nothing useful). With
# QX_BUILD_LOCK naming a lock file, the configure and build steps wait for other builds holding it.
# The Wine runs take place in the project's prefix (QX_WINEPREFIX chooses another, see
# scripts/wine-env.sh), whose wineserver the script restarts: nothing else may use the prefix
# meanwhile.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

rounds=15
idle_seconds=60
cpus=
for argument in "$@"; do
  case $argument in
    --rounds=*) rounds=${argument#--rounds=} ;;
    --idle-seconds=*) idle_seconds=${argument#--idle-seconds=} ;;
    --cpus=*) cpus=${argument#--cpus=} ;;
    *)
      echo "usage: scripts/bench.sh [--rounds=<n>] [--idle-seconds=<s>] [--cpus=<list>]" >&2
      exit 2
      ;;
  esac
done

locked() {
  if [[ -n ${QX_BUILD_LOCK:-} ]]; then
    flock "$QX_BUILD_LOCK" "$@"
  else
    "$@"
  fi
}

native="$repo/build/bench-native"
locked cmake --preset windows >/dev/null
locked cmake --build --preset windows -j"$(nproc)" --target QxWineBenchmarks
locked cmake --preset native -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
locked cmake --build "$native" -j"$(nproc)" --target QxLogBenchmark QxEventReportBenchmark
# Every run starts with a fresh wineserver, which also drops the CPUs an earlier run gave it.
pinned=()
[[ -n $cpus ]] && pinned=(taskset -c "$cpus")
(source scripts/wine-env.sh && wineserver -k && wineserver -w) 2>/dev/null || true
"${pinned[@]}" scripts/wine-prefix.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "==== machine ===="
echo "nproc: $(nproc)"
echo "Wine part on CPUs: ${cpus:-all}"
echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
echo "Wine: $(wine64 --version)"
echo "load average: $(cut -d ' ' -f 1-3 /proc/loadavg)"

echo "==== native (Google Benchmark, Release) ===="
for benchmark in QxLogBenchmark QxEventReportBenchmark; do
  "$native/Tests/Benchmarks/$benchmark" --benchmark_out="$work/$benchmark.csv" --benchmark_out_format=csv
done
# The CPU time in ns of one benchmark, from the CSV rows "name",iterations,real,cpu,unit,...; fails
# when the benchmark did not run.
cpu_ns() {
  cat "$work"/*.csv | awk -F, -v name="\"$1\"" '
    $1 == name {
      factor = $5 == "us" ? 1000 : $5 == "ms" ? 1000000 : 1
      printf "%.2f", $4 * factor
      found = 1
    }
    END { exit !found }' || {
    echo "the native benchmark $1 printed no result" >&2
    return 1
  }
}
declare -A ns
for benchmark in DisabledLogStatement DisabledTraceScope EnabledNarrowRecord DisabledLogStatementAskingTheLogger \
  DisabledTraceScopeAskingTheLogger EnabledNarrowRecordAskingTheLogger EnabledTraceScope ReportThroughKeptChain \
  SplitModuleList100; do
  ns[$benchmark]=$(cpu_ns "$benchmark")
done

echo "==== Wine (QxWineBenchmarks.exe, prefix $WINEPREFIX) ===="
(cd build/windows/bin && "${pinned[@]}" wine64 QxWineBenchmarks.exe --rounds="$rounds" --idle-seconds="$idle_seconds") |
  tr -d '\r' | tee "$work/wine.txt"

if ! grep -q '^GOAL|' "$work/wine.txt"; then
  echo "the Wine benchmarks ended before their summary (was the prefix's wineserver ended meanwhile?)" >&2
  exit 1
fi

echo
echo "==== goals ($rounds rounds, idle $idle_seconds s, CPUs ${cpus:-all}; ratios are host / yardstick, medians of the rounds' ratios) ===="
echo "| measure | measured | goal |"
echo "|---|---|---|"
grep '^GOAL|' "$work/wine.txt" | sed 's/^GOAL|\(.*\)|\(.*\)|\(.*\)$/| \1 | \2 | \3 |/'
echo "| disabled log statement / disabled trace scope (native, CPU time) | ${ns[DisabledLogStatement]} ns / ${ns[DisabledTraceScope]} ns | <= 1.5 ns / <= 2 ns |"
echo "| enabled narrow record into a discarding logger (native) | ${ns[EnabledNarrowRecord]} ns | <= 100 ns |"
echo "| the same three into a logger that publishes no level mask (native) | ${ns[DisabledLogStatementAskingTheLogger]} ns / ${ns[DisabledTraceScopeAskingTheLogger]} ns / ${ns[EnabledNarrowRecordAskingTheLogger]} ns | - |"
echo "| enabled trace scope (native) | ${ns[EnabledTraceScope]} ns | - |"
echo "| one event report through the kept chain (native) | ${ns[ReportThroughKeptChain]} ns | - |"
echo "| cutting a 100-name module list (native) | ${ns[SplitModuleList100]} ns | - |"
