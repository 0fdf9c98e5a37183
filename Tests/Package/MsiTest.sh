#!/usr/bin/env bash
# MsiTest.sh <build folder> <work folder> <version>
# The product's Windows Installer package under Wine's own msiexec: builds it twice, at <version> and
# at the next patch version, from the same build; installs the first and checks the files, the
# product root, the event source and the Add/Remove Programs entry; runs a service on the installed
# host; upgrades in place, refuses the downgrade, uninstalls, and checks that only the logs stay.
# Runs in the Wine prefix of WINEPREFIX.
set -euo pipefail
build="$1"
work="$2"
version="$3"
cmake="${CMAKE:-cmake}"
IFS=. read -r major minor patch <<<"$version"
later="$major.$minor.$((patch + 1))"
service=QxMsiDemo

fail() {
  echo "$*" >&2
  exit 1
}

rm -rf "$work"
for v in "$version" "$later"; do
  "$cmake" -D BUILD="$build" -D WORK="$work/$v" -D VERSION="$v" -D OUTPUT="$work/QxServiceHost-$v-x64.msi" \
    -P "$(dirname "$0")/../../cmake/msi/BuildMsi.cmake" >/dev/null
done
msi() {
  wine64 winepath -w "$work/QxServiceHost-$1-x64.msi" | tr -d '\r'
}
# msiexec's exit code, of which a shell sees the low 8 bits (1603 as 67).
msiexec() {
  local rc=0
  wine64 msiexec "$@" /qn || rc=$?
  echo "$rc"
}
reg_value() {
  wine64 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# The DisplayVersion of every Add/Remove Programs entry named QxServiceHost.
listed_versions() {
  wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {name = ""; version = ""} /DisplayName +REG_SZ +QxServiceHost$/ {name = 1}
         /DisplayVersion/ {version = $3} name && version {print version; name = ""}'
}
installed="$WINEPREFIX/drive_c/Program Files/QxServiceHost"
root='HKLM\SOFTWARE\Qx\QxServiceHost'
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QxServiceHost'
ctl() {
  wine64 "C:\\Program Files\\QxServiceHost\\bin\\QxServiceCtl.exe" "$@" | tr -d '\r'
}

[[ $(msiexec /x "$(msi "$later")") =~ ^(0|1605|69)$ ]] || true
[[ $(msiexec /i "$(msi "$version")") == 0 ]] || fail "msiexec /i $version failed"

stage="$work/$version/stage"
while IFS= read -r file; do
  cmp -s "$stage/$file" "$installed/$file" || fail "not installed as built: $file"
done < <(cd "$stage" && find . -type f | sed 's|^\./||')
cmp -s "$(dirname "$0")/../../cmake/msi/ProductInfo2.ini" "$installed/bin/ProductInfo2.ini" ||
  fail "bin/ProductInfo2.ini is not the product's"
[[ $(reg_value "$root" ProductInstallPath) == 'C:\Program Files\QxServiceHost\bin\' ]] ||
  fail "ProductInstallPath: $(reg_value "$root" ProductInstallPath)"
[[ $(reg_value "$root" EventSource) == QxServiceHost ]] || fail "EventSource: $(reg_value "$root" EventSource)"
for value in EventMessageFile ParameterMessageFile; do
  [[ $(reg_value "$source_key" $value) == 'C:\Program Files\QxServiceHost\bin\QxMessages.dll' ]] ||
    fail "$value: $(reg_value "$source_key" $value)"
done
[[ $(listed_versions) == "$version" ]] || fail "Add/Remove Programs lists: $(listed_versions)"
ctl product | grep -qxF '  ProductInstallPath: C:\Program Files\QxServiceHost\bin\' || fail "product: $(ctl product)"

# A service of the installed host, stopped for the upgrade: its logs stay, and it runs on the new files.
ctl uninstall "$service" >/dev/null 2>&1 || true
ctl install "$service" --modules 'C:\Program Files\QxServiceHost\samples\Heartbeat\QxSampleHeartbeat.dll' \
  --display-name-id 3 >/dev/null
ctl start "$service" >/dev/null
ctl stop "$service" >/dev/null
logs=("$installed"/bin/Logs/"$service"\(*\).log)
[[ -f ${logs[0]} ]] || fail "the service wrote no log"

[[ $(msiexec /i "$(msi "$later")") == 0 ]] || fail "the upgrade to $later failed"
[[ $(listed_versions) == "$later" ]] || fail "after the upgrade Add/Remove Programs lists: $(listed_versions)"
[[ -f ${logs[0]} ]] || fail "the upgrade removed ${logs[0]}"
ctl start "$service" >/dev/null || fail "the service does not start after the upgrade"
ctl status "$service" | grep -qx 'state: RUNNING' || fail "the service does not run after the upgrade"
ctl uninstall "$service" >/dev/null

[[ $(msiexec /i "$(msi "$version")") == 67 ]] || fail "the downgrade to $version was not refused with 1603"
[[ $(listed_versions) == "$later" ]] || fail "after the downgrade Add/Remove Programs lists: $(listed_versions)"
msiinfo export "$work/QxServiceHost-$version-x64.msi" LaunchCondition |
  grep -qF 'A later version of QxServiceHost is installed already' || fail "the downgrade message is missing"

[[ $(msiexec /x "$(msi "$later")") == 0 ]] || fail "msiexec /x failed"
# What the service's runs wrote is no file of the package: its logs and its watchdog status file.
left="$(cd "$installed" && find . -type f | sed 's|^\./||' |
  grep -vE "^bin/(Logs/|QxWatchdogAgent\.$service\.status$)" || true)"
[[ -z $left ]] || fail "uninstall left: $left"
[[ -f ${logs[0]} ]] || fail "uninstall removed the logs"
if wine64 reg query "$root" >/dev/null 2>&1 || wine64 reg query "$source_key" >/dev/null 2>&1; then
  fail "uninstall left the product root or the event source"
fi
[[ -z $(listed_versions) ]] || fail "uninstall left the Add/Remove Programs entry"
rm -rf "$installed"

# An install folder of the operator's choice is where the upgrade and the uninstall find the product.
chosen="$WINEPREFIX/drive_c/Qx Services"
[[ $(msiexec /i "$(msi "$version")" 'INSTALLDIR=C:\Qx Services\') == 0 ]] || fail "msiexec /i INSTALLDIR= failed"
[[ $(reg_value "$root" ProductInstallPath) == 'C:\Qx Services\bin\' ]] ||
  fail "ProductInstallPath in the chosen folder: $(reg_value "$root" ProductInstallPath)"
[[ $(msiexec /i "$(msi "$later")") == 0 ]] || fail "the upgrade in the chosen folder failed"
[[ -f "$chosen/bin/QxServiceHost.exe" && ! -e $installed ]] || fail "the upgrade left the chosen folder"
[[ $(msiexec /x "$(msi "$later")") == 0 && ! -e $chosen ]] || fail "the uninstall left the chosen folder"
echo "installed, upgraded to $later, refused $version over it, uninstalled; the same in a folder of its own"
