#!/usr/bin/env bash
# WalkthroughTest.sh <build folder> <README> <work folder>
# The package README's first five minutes from the package alone: makes the ZIP with cpack, unpacks
# it into <work folder>, and runs the README's "bat" block in Wine's cmd with QX set to the unpacked
# folder. Each line but the status must succeed; the outputs must show the service validated,
# running and removed. Runs in the Wine prefix of WINEPREFIX.
set -euo pipefail
build="$1"
readme="$2"
work="$3"
cmake="${CMAKE:-cmake}"

rm -rf "$work"
mkdir -p "$work/unpacked"
(cd "$build" && "$(dirname "$cmake")/cpack" -G ZIP -B "$work/zip" >/dev/null)
zip=("$work"/zip/*.zip)
(cd "$work/unpacked" && "$cmake" -E tar xf "${zip[0]}")
package=("$work"/unpacked/*/)
# The package's README is this one, the operators', not the developers'.
if ! cmp -s "$readme" "${package[0]}docs/README.md"; then
  echo "the package's docs/README.md is not $readme" >&2
  exit 1
fi
qx="$(wine64 winepath -w "${package[0]%/}" | tr -d '\r')"

# The block after the walkthrough's heading, up to its closing fence.
block="$(sed -n '/^## The first five minutes/,/^```$/p' "$readme" | sed -n '/^```bat$/,/^```$/p' | sed '1d;$d')"
{
  echo "@echo off"
  while IFS= read -r line; do
    if [[ $line == "set QX="* ]]; then
      echo "set QX=$qx"
    elif [[ $line == *" status "* ]]; then
      echo "$line"
    else
      # Wine's cmd runs what follows "||" after a success too; "if errorlevel" it does right.
      echo "$line"
      echo "if errorlevel 1 exit /b 1"
    fi
  done <<<"$block"
} | sed 's/$/\r/' >"$work/walkthrough.bat"
cat "$work/walkthrough.bat"

status=0
output="$(wine64 cmd /c "$(wine64 winepath -w "$work/walkthrough.bat" | tr -d '\r')" 2>&1)" || status=$?
output="$(tr -d '\r' <<<"$output")"
echo "$output"
if ((status != 0)); then
  echo "the walkthrough stopped with exit code $status" >&2
  exit 1
fi
for expected in "the host would start service QxDemo" "state: RUNNING" "QxDemo  RUNNING  process " \
  "ServiceModules: $qx\\samples\\Heartbeat\\QxSampleHeartbeat.dll" "removed service QxDemo and its Parameters"; do
  if ! grep -qF "$expected" <<<"$output"; then
    echo "walkthrough output lacks: $expected" >&2
    exit 1
  fi
done
if grep -qi "error\|warning" <<<"$output"; then
  echo "walkthrough output names an error or a warning" >&2
  exit 1
fi
wine64 reg delete 'HKLM\SOFTWARE\QxDemo' /f >/dev/null 2>&1 || true
