#!/usr/bin/env bash
# The host's main job under Wine: builds the Windows preset, configures a demo service QxDemo in the
# registry and runs QxServiceHost.exe for it by hand, first with -RegServer (loads the configuration
# and exits 0), then as a plain start (no Service Control Manager behind it: 1063). Prints the full
# exit codes and the module logs.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows
scripts/wine-prefix.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

bin="$repo/build/windows/bin"
service=QxDemo
parameters="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service\\Parameters"
wine64 reg add "$parameters" /v ServiceModules /t REG_SZ /d '' /f >/dev/null
wine64 reg add "$parameters" /v ServiceName /t REG_DWORD /d 3 /f >/dev/null
host="$(wine64 winepath -w "$bin/QxServiceHost.exe")"

status=0
# run_host EXPECTED ARGUMENTS...: one hand-run through QxRunExit, then its module log.
run_host() {
  local expected=$1
  shift
  echo
  echo "==== QxServiceHost.exe $* ===="
  local result
  if ! result="$(wine64 "$bin/QxRunExit.exe" "$host" "$@")"; then
    status=1
    return
  fi
  result="${result%$'\r'}"
  echo "$result"
  local code="${result#EXITCODE=}"
  code="${code%% *}"
  local pid="${result##*PID=}"
  if [[ $code != "$expected" ]]; then
    echo "unexpected exit code: $code, expected $expected" >&2
    status=1
  fi
  local log="$bin/Logs/$service($pid).log"
  if [[ -f $log ]]; then
    echo "---- ${log#"$repo"/} ----"
    cat "$log"
  else
    echo "(no module log ${log#"$repo"/}: is QxLogger.dll beside the host?)"
  fi
}

run_host 0x00000000 "-name=$service" -RegServer
run_host 0x00000427 "-name=$service"
exit "$status"
