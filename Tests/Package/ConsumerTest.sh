#!/usr/bin/env bash
# ConsumerTest.sh <build folder> <work folder> [<toolchain file> [<cmake option>...]]
# CMAKE names the cmake to use (default: the one in PATH).
#
# A module author's round trip: installs the build into <work folder>/prefix, builds the sample
# module out of tree from the package's own samples/Heartbeat/ (with the toolchain given, by
# default the package's MinGW-w64 one, and the options given), then runs it in the installed host
# as a service of the Wine prefix in WINEPREFIX: the service starts, the module writes its
# heartbeat, and the service stops with exit code 0 and is deleted. Last the installed control
# tool's run starts and stops the module in the console. Nothing from the build folder's bin/ takes
# part except QxServiceExit.exe, which reports the service process's exit code.
set -euo pipefail
build="$1"
work="$2"
toolchain="${3:-$work/prefix/toolchains/mingw-w64-x86_64.cmake}"
options=("${@:4}")
prefix="$work/prefix"
consumer="$work/consumer"
cmake="${CMAKE:-cmake}"

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$prefix"
"$cmake" -S "$prefix/samples/Heartbeat" -B "$consumer" \
  --toolchain "$toolchain" "${options[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
"$cmake" --build "$consumer"

# Exactly the files the Windows Installer package lists, which are the product's, the sample, the
# toolchain and the documents: no test program or test module. The control tool is there whenever
# the build has one.
wxs="$(dirname "$0")/../../cmake/msi/Product.wxs"
mapfile -t expected < <(sed -n 's/.*Source="\([^"$]*\)".*/\1/p' "$wxs")
if [[ ! -e $build/bin/QxServiceCtl.exe ]]; then
  mapfile -t expected < <(printf '%s\n' "${expected[@]}" | grep -vx 'bin/QxServiceCtl.exe')
fi
installed="$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)"
wanted="$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)"
if [[ $installed != "$wanted" ]]; then
  echo "installed files differ from the product's (< installed, > expected):" >&2
  diff <(echo "$installed") <(echo "$wanted") >&2 || true
  exit 1
fi

module="$consumer/QxSampleHeartbeat.dll"

# qx_add_service_module links the runtimes in statically. An object for Microsoft's ABI names the
# static C runtime (libcmt) as its default library, never the DLL runtime's (msvcrt), even when its
# toolchain then links a runtime of its own with /nodefaultlib; a MinGW-w64 module imports no
# runtime DLL that would have to sit beside it.
objects=("$consumer"/CMakeFiles/QxSampleHeartbeat.dir/*.obj)
if grep -qs 'CMAKE_CXX_SIMULATE_ID "MSVC"' "$consumer"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
  if ! grep -aqi '/DEFAULTLIB:"\?libcmt' "${objects[@]}" ||
    grep -aqi '/DEFAULTLIB:"\?msvcrt' "${objects[@]}"; then
    echo "the module's objects do not ask for the static runtime:" \
      "$(grep -aoi '/DEFAULTLIB:[^ ]*' "${objects[@]}")" >&2
    exit 1
  fi
else
  runtime_dlls="$(x86_64-w64-mingw32-objdump -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    grep -iE '^(libstdc\+\+|libgcc|libwinpthread)' || true)"
  if [[ -n $runtime_dlls ]]; then
    echo "the module imports runtime DLLs: $runtime_dlls" >&2
    exit 1
  fi
fi

windows_path() {
  wine64 winepath -w "$1" | tr -d '\r'
}
host="$(windows_path "$prefix/bin/QxServiceHost.exe")"
module_path="$(windows_path "$module")"
service="QxPackageConsumer$$"
service_key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
# The module log is checked for the module's load, so this service logs at level 3 whatever the
# prefix's global level is.
logger_key="HKLM\\SOFTWARE\\Qx\\QxLogger\\Services\\$service"
# Wine's sc prints nothing on errors and exits with 1; its output ends lines with CR LF.
sc() {
  wine64 sc "$@" | tr -d '\r'
}
state() {
  sc query "$service" | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}
waiter=
cleanup() {
  if [[ -n $waiter ]]; then
    kill "$waiter" 2>/dev/null || true
  fi
  sc stop "$service" >/dev/null 2>&1 || true
  sc delete "$service" >/dev/null 2>&1 || true
  wine64 reg delete "$service_key" /f >/dev/null 2>&1 || true
  wine64 reg delete "$logger_key" /f >/dev/null 2>&1 || true
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  for log in "$prefix"/bin/Logs/*.log; do
    [[ -e $log ]] || continue
    echo "==== $log" >&2
    cat "$log" >&2
  done
  exit 1
}
# Polls a condition every 0.2 s; the bound only keeps a broken run from hanging, it is far above
# what a start or stop takes.
wait_for() {
  local what="$1"
  shift
  for _ in $(seq 600); do
    if "$@"; then
      return 0
    fi
    sleep 0.2
  done
  fail "$what"
}

sc create "$service" binPath= "\"$host\" -name=$service" >/dev/null
wine64 reg add "$service_key\\Parameters" /v ServiceModules /t REG_SZ /d "$module_path" /f >/dev/null
# The message id of the service's display name: required like ServiceModules, any id will do here.
wine64 reg add "$service_key\\Parameters" /v ServiceName /t REG_DWORD /d 3 /f >/dev/null
wine64 reg add "$logger_key" /v LogLevel /t REG_DWORD /d 3 /f >/dev/null
sc start "$service" >/dev/null || fail "sc start $service"
is_running() { [[ $(state) == RUNNING ]]; }
wait_for "$service did not reach RUNNING (state: $(state))" is_running

exit_report="$work/exit-report.txt"
wine64 "$build/bin/QxServiceExit.exe" "$service" 120000 >"$exit_report" &
waiter=$!
has_pid() { grep -q '^PID=[0-9]' "$exit_report"; }
wait_for "the process of $service was not found" has_pid
pid="$(tr -d '\r' <"$exit_report" | sed -n 's/^PID=\([0-9]*\).*/\1/p')"

module_log="$prefix/bin/Logs/$service($pid).log"
heartbeat_log="$prefix/bin/Logs/QxSampleHeartbeat($pid).log"
has_heartbeat() { grep -q ' heartbeat 1'$'\r' "$heartbeat_log" 2>/dev/null; }
wait_for "no heartbeat in $heartbeat_log" has_heartbeat
logged() { grep -qF "$1" "$module_log" || fail "$module_log lacks: $1"; }
logged "Module name:$host"
logged "Init ServiceModule $module_path"

sc stop "$service" >/dev/null || fail "sc stop $service"
status=0
wait "$waiter" || status=$?
waiter=
((status == 0)) || fail "the process of $service did not end (QxServiceExit: $status)"
code="$(tr -d '\r' <"$exit_report" | sed -n 's/^EXITCODE=\(0x[0-9A-F]*\).*/\1/p')"
[[ $code == 0x00000000 ]] || fail "exit code of $service: $code, expected 0x00000000"
is_stopped() { [[ $(state) == STOPPED ]]; }
wait_for "$service did not report STOPPED (state: $(state))" is_stopped
logged "Shutting down ServiceModule $module_path"
grep -q ' stopped after heartbeat [0-9]' "$heartbeat_log" || fail "$heartbeat_log lacks the module's stop"

sc delete "$service" >/dev/null || fail "sc delete $service"
echo "out-of-tree $module ran in $host as $service and stopped with $code"

run_output="$(wine64 "$prefix/bin/QxServiceCtl.exe" run "$module_path" --seconds 1 | tr -d '\r')" ||
  fail "QxServiceCtl run $module_path failed: $run_output"
for line in "SmInitialize $module_path: 0x00000000 in " "SmShutdown $module_path: returned in " \
  "stopped: every module shut down"; do
  grep -qF "$line" <<<"$run_output" || fail "QxServiceCtl run printed no line with: $line"$'\n'"$run_output"
done
echo "QxServiceCtl run started and stopped $module"
