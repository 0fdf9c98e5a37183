# shellcheck shell=bash
# The Wine environment of the project's prefix, sourced by the other scripts and by hand from bash
# (`. scripts/wine-env.sh`). QX_WINEPREFIX chooses another prefix.
qx_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${QX_WINEPREFIX:-$qx_repo/build/wine-prefix}"
export WINEDEBUG=-all
# No Mono or Gecko: the prefix is created without asking to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Headless: Wine must not try to reach an X server.
export DISPLAY=
# Debian keeps wine64, wineserver and friends outside the default PATH.
case ":$PATH:" in
  *:/usr/lib/wine:*) ;;
  *) export PATH="/usr/lib/wine:$PATH" ;;
esac
unset qx_repo
