#!/usr/bin/env bash
# Creates the project's Wine prefix unless it is ready. Several builds and test runs may call this
# at once; a lock beside the prefix lets exactly one of them do the work.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ready="$WINEPREFIX/.qx-prefix-ready"
[[ -e $ready ]] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[[ -e $ready ]] && exit 0

if [[ ! -e $WINEPREFIX/system.reg ]]; then
  echo "Creating the Wine prefix $WINEPREFIX" >&2
  wine64 wineboot -i
fi
# A crashing process must end at once with its exception code instead of starting winedbg.
wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null
touch "$ready"
