#!/usr/bin/env bash
# The host's main job under Wine: builds the Windows preset and installs the product into
# build/demo (cmake --install), gives it a product root with the control tool QxServiceCtl
# (ProductInfo2.ini beside the host, naming a registry key with the install path and the event
# source), installs the sample service QxDemo (the package's heartbeat module) and validates it,
# starts it, shows its status, its module log, the heartbeat log and the start event the event
# library received, stops it, and shows the stop event, the final status with the full exit code of
# the service process, and the control tool's status before it uninstalls the service again. A
# QxDemo left by an earlier run is removed first.
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

demo="$repo/build/demo"
rm -rf "$demo"
cmake --install build/windows --prefix "$demo" >/dev/null
bin="$demo/bin"
tools="$repo/build/windows/bin"
service=QxDemo
product_root='SOFTWARE\QxDemo\Product'
ctl() {
  wine64 "$bin/QxServiceCtl.exe" "$@" | tr -d '\r'
}
# Wine's sc prints nothing on errors and exits with 1; its output ends lines with CR LF.
sc() {
  wine64 sc "$@" | tr -d '\r'
}

echo "==== removing what an earlier run may have left ===="
ctl uninstall "$service" >/dev/null 2>&1 || true

echo "==== QxServiceCtl product --registry-root $product_root --event-source $service ===="
ctl product --registry-root "$product_root" --event-source "$service"

module="$(wine64 winepath -w "$demo/samples/Heartbeat/QxSampleHeartbeat.dll")"
echo "==== QxServiceCtl install $service --modules $module --display-name-id 3 ===="
ctl install "$service" --modules "$module" --display-name-id 3 --description "The sample heartbeat service of QxServiceHost"
echo "==== QxServiceCtl validate $service ===="
ctl validate "$service"

events="$bin/Logs/QxEventReporter.events"
echo "==== sc start $service ===="
sc start "$service"
# The heartbeat module writes a line every 3 seconds.
sleep 7
echo "==== sc query $service ===="
sc query "$service"

# Holds the service process from now on, prints its id, and its full exit code once it has ended.
exit_report="$(mktemp)"
trap 'rm -f "$exit_report"' EXIT
wine64 "$tools/QxServiceExit.exe" "$service" 30000 >"$exit_report" &
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
echo "==== ${events#"$repo"/} (the start) ===="
cat "$events"
shown=$(wc -l <"$module_log")
events_shown=$(wc -l <"$events")

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
echo "==== ${events#"$repo"/} (the stop) ===="
tail -n +$((events_shown + 1)) "$events"
echo "==== QxServiceCtl status $service ===="
ctl_status=0
ctl status "$service" || ctl_status=$?
echo "(exit code $ctl_status: 3 is a service that stopped without a failure)"
echo "==== QxServiceCtl uninstall $service ===="
ctl uninstall "$service"
if ((status != 0)); then
  echo "the service process did not end (QxServiceExit: $status)" >&2
  exit 1
fi
if ((ctl_status != 3)); then
  echo "QxServiceCtl status exited with $ctl_status, expected 3 for a stopped service" >&2
  exit 1
fi
code="$(tr -d '\r' <"$exit_report" | sed -n 's/^EXITCODE=\(0x[0-9A-F]*\).*/\1/p')"
if [[ $code != 0x00000000 ]]; then
  echo "unexpected exit code: $code, expected 0x00000000" >&2
  exit 1
fi
