#!/usr/bin/env bash
# Creates the project's Wine prefix unless it is ready, and makes sure a persistent wineserver runs
# for it. Several builds and test runs may call this at once; a lock beside the prefix lets exactly
# one of them create the prefix.
#
# Why persistent: every process of a prefix belongs to its wineserver, and the system processes
# (services.exe, the Service Control Manager, with every service process it launched) live only as
# long as the server. A server that a Wine program starts on demand ends, killing them all silently,
# as soon as the last ordinary program exits: a service started with `wine64 sc start` would die the
# moment `sc` returns. `wineserver -p` keeps the server until `wineserver -k`.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Longest wait for a server started on demand to end by itself, so that a persistent one can follow.
on_demand_wait_seconds=120

create_prefix() {
  local ready="$WINEPREFIX/.qx-prefix-ready"
  [[ -e $ready ]] && return
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -e $ready ]]; then
    if [[ ! -e $WINEPREFIX/system.reg ]]; then
      echo "Creating the Wine prefix $WINEPREFIX" >&2
      wine64 wineboot -i
    fi
    # A crashing process must end at once with its exception code instead of starting winedbg.
    wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null
    touch "$ready"
  fi
  exec 9>&-
}

# The process id of the wineserver serving this prefix, if one runs. A server works in the directory
# named after the device and inode of its prefix.
server_pid() {
  local directory process
  directory=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  for process in /proc/[0-9]*; do
    if [[ $(readlink "$process/cwd" 2>/dev/null) == */"$directory" &&
          $(readlink "$process/exe" 2>/dev/null) == */wineserver* ]]; then
      echo "${process#/proc/}"
      return
    fi
  done
}

# Whether the server runs until killed: its last persistence option is -p or --persistent without a
# delay. Debian's wineserver wrapper puts -p0 in front of every command line, so a server started on
# demand carries -p0 alone.
is_persistent() {
  local argument persistent=no
  while IFS= read -r -d '' argument; do
    case $argument in
      -p | --persistent) persistent=yes ;;
      -p* | --persistent=*) persistent=no ;;
    esac
  done <"/proc/$1/cmdline"
  [[ $persistent == yes ]]
}

ensure_persistent_server() {
  local waited=0 pid status
  while ((waited < on_demand_wait_seconds)); do
    pid=$(server_pid)
    if [[ -z $pid ]]; then
      # Exit status 2: another server took the prefix meanwhile; look at that one next.
      status=0
      wineserver -p </dev/null >/dev/null 2>&1 || status=$?
      if ((status == 0)); then
        # The first program of a new server starts the system processes, which keep the standard
        # handles they inherit for as long as the server lives. Started from here, they hold none of
        # a caller's (a ctest output pipe would then never reach its end).
        wine64 cmd /c exit </dev/null >/dev/null 2>&1
        return
      fi
      ((status == 2)) || return "$status"
    elif is_persistent "$pid"; then
      return
    fi
    sleep 1
    waited=$((waited + 1))
  done
  echo "No persistent wineserver for $WINEPREFIX: the server $(server_pid) did not end within" \
    "$on_demand_wait_seconds s; end its programs, or run: wineserver -k" >&2
  return 1
}

create_prefix
ensure_persistent_server
