#!/usr/bin/env bash
# The host's main job under Wine: builds the Windows preset, installs the sample service QxDemo (the
# heartbeat module QxSampleHeartbeat.dll) with Wine's `sc`, starts it, shows its status, its module
# log and the heartbeat log, stops it, and shows the final status with the full exit code of the
# service process before the service is deleted again. A QxDemo left by an earlier run is removed
# first.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows
# Also makes sure a persistent wineserver runs: without one the service process would be killed as
# soon as `sc start` returns.
scripts/wine-prefix.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

bin="$repo/build/windows/bin"
service=QxDemo
service_key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
host="$(wine64 winepath -w "$bin/QxServiceHost.exe")"
# Wine's sc prints nothing on errors and exits with 1; its output ends lines with CR LF.
sc() {
  wine64 sc "$@" | tr -d '\r'
}

echo "==== removing what an earlier run may have left ===="
sc stop "$service" >/dev/null 2>&1 || true
sc delete "$service" >/dev/null 2>&1 || true
wine64 reg delete "$service_key" /f >/dev/null 2>&1 || true

echo "==== sc create $service ===="
sc create "$service" binPath= "$host -name=$service"
wine64 reg add "$service_key\\Parameters" /v ServiceModules /t REG_SZ /d QxSampleHeartbeat.dll /f >/dev/null
wine64 reg add "$service_key\\Parameters" /v ServiceName /t REG_DWORD /d 3 /f >/dev/null

echo "==== sc start $service ===="
sc start "$service"
# The heartbeat module writes a line every 3 seconds.
sleep 7
echo "==== sc query $service ===="
sc query "$service"

# Holds the service process from now on, prints its id, and its full exit code once it has ended.
exit_report="$(mktemp)"
trap 'rm -f "$exit_report"' EXIT
wine64 "$bin/QxServiceExit.exe" "$service" 30000 >"$exit_report" &
waiter=$!
pid=
for _ in $(seq 100); do
  pid="$(sed -n 's/^PID=\([0-9]*\).*/\1/p' "$exit_report")"
  [[ -n $pid ]] && break
  sleep 0.1
done
if [[ -z $pid ]]; then
  echo "the service process could not be found" >&2
  exit 1
fi

module_log="$bin/Logs/$service($pid).log"
heartbeat_log="$bin/Logs/QxSampleHeartbeat($pid).log"
echo "==== ${module_log#"$repo"/} (running) ===="
cat "$module_log"
echo "==== ${heartbeat_log#"$repo"/} ===="
cat "$heartbeat_log"
shown=$(wc -l <"$module_log")

echo "==== sc stop $service ===="
sc stop "$service"
status=0
wait "$waiter" || status=$?
echo "==== ${module_log#"$repo"/} (since the stop) ===="
tail -n +$((shown + 1)) "$module_log"
echo "==== sc query $service ===="
sc query "$service"
echo "==== exit code of the service process ===="
tr -d '\r' <"$exit_report" | grep '^EXITCODE=' || true

sc delete "$service"
if ((status != 0)); then
  echo "the service process did not end (QxServiceExit: $status)" >&2
  exit 1
fi
code="$(tr -d '\r' <"$exit_report" | sed -n 's/^EXITCODE=\(0x[0-9A-F]*\).*/\1/p')"
if [[ $code != 0x00000000 ]]; then
  echo "unexpected exit code: $code, expected 0x00000000" >&2
  exit 1
fi
