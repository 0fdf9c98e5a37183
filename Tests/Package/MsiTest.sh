#!/usr/bin/env bash
# MsiTest.sh <build folder> <work folder> <version> <service package folder> <module file>
# The product's Windows Installer package and the sample module's (qx_add_service_package, service
# QxHeartbeat) under Wine's own msiexec: builds each twice, at <version> and at the next patch version,
# from the same build. The module's package refuses to install without the product. Installs the
# product and checks the files, the product root, the event source and the Add/Remove Programs
# entry; installs the module's package and checks the service it made on the installed host;
# upgrades both in place, refuses the product's downgrade, uninstalls both, and checks that only the
# logs stay. Runs in the Wine prefix of WINEPREFIX.
set -euo pipefail
build="$1"
work="$2"
version="$3"
service_package="$4"
module_file="$5"
cmake="${CMAKE:-cmake}"
IFS=. read -r major minor patch <<<"$version"
later="$major.$minor.$((patch + 1))"
service=QxHeartbeat

fail() {
  echo "$*" >&2
  exit 1
}

rm -rf "$work"
for v in "$version" "$later"; do
  "$cmake" -D BUILD="$build" -D WORK="$work/$v" -D VERSION="$v" -D OUTPUT="$work/QxServiceHost-$v-x64.msi" \
    -P "$(dirname "$0")/../../cmake/msi/BuildMsi.cmake" >/dev/null
  mkdir -p "$work/module-$v"
  cp "$service_package/Package.wxs" "$module_file" "$work/module-$v/"
  (cd "$work/module-$v" && wixl -a x64 -D Version="$v" -o "$work/$service-$v-x64.msi" Package.wxs)
done
# msi <version> [<package>]: the package's path as msiexec takes it, the product's by default.
msi() {
  wine64 winepath -w "$work/${2:-QxServiceHost}-$1-x64.msi" | tr -d '\r'
}
# msiexec's exit code, of which a shell sees the low 8 bits (1603 as 67). What the control tool says
# in the packages' custom actions goes to msiexec.out.
msiexec() {
  local rc=0
  wine64 msiexec "$@" /qn >>"$work/msiexec.out" 2>&1 || rc=$?
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

for package in $service QxServiceHost; do
  msiexec /x "$(msi "$later" $package)" >/dev/null
  msiexec /x "$(msi "$version" $package)" >/dev/null
done
rm -rf "$installed"
[[ $(msiexec /i "$(msi "$version" $service)") == 67 ]] || fail "the module's package installed without the product"
msiinfo export "$work/$service-$version-x64.msi" LaunchCondition | grep -qF 'QxServiceHost is not installed on this machine' ||
  fail "the module's package names no reason for its refusal"
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

# The module's package makes the service on the installed host and starts it.
[[ $(msiexec /i "$(msi "$version" $service)") == 0 ]] || fail "msiexec /i of the module's package failed"
service_key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
[[ $(reg_value "$service_key" ImagePath) == "\"C:\\Program Files\\QxServiceHost\\bin\\QxServiceHost.exe\" -name=$service" ]] ||
  fail "ImagePath: $(reg_value "$service_key" ImagePath)"
module='C:\Program Files\QxHeartbeat\QxSampleHeartbeat.dll'
[[ $(reg_value "$service_key\\Parameters" ServiceModules) == "$module" ]] ||
  fail "ServiceModules: $(reg_value "$service_key\\Parameters" ServiceModules)"
[[ $(reg_value "$service_key\\Parameters" ServiceName) == 0x1 ]] || fail "ServiceName: $(reg_value "$service_key\\Parameters" ServiceName)"
cmp -s "$module_file" "$WINEPREFIX/drive_c/Program Files/QxHeartbeat/QxSampleHeartbeat.dll" || fail "the module is not installed"
ctl status "$service" | grep -qx 'state: RUNNING' || fail "the service does not run: $(ctl status "$service")"
first_process="$(ctl status "$service" | sed -n 's/^process id: //p')"
wine64 reg add "$service_key\\Parameters" /v Kept /t REG_DWORD /d 7 /f >/dev/null

# Each upgraded in place: the product's upgrade stops the running service for the host's files and
# starts it again, the module's upgrade for its module; the logs stay.
running_process() {
  ctl status "$service" | grep -qx 'state: RUNNING' || fail "the service does not run $1"
  ctl status "$service" | sed -n 's/^process id: //p'
}
[[ $(msiexec /i "$(msi "$later")") == 0 ]] || fail "the upgrade to $later failed"
[[ $(listed_versions) == "$later" ]] || fail "after the upgrade Add/Remove Programs lists: $(listed_versions)"
second_process="$(running_process "after the product's upgrade")"
[[ $second_process != "$first_process" ]] || fail "the product's upgrade did not restart the service"
[[ ! -e "$installed/bin/QxServicesStoppedForUpgrade.txt" ]] || fail "the upgrade left its record of stopped services"
[[ $(msiexec /i "$(msi "$later" $service)") == 0 ]] || fail "the upgrade of the module's package failed"
[[ $(running_process "after the module's upgrade") != "$second_process" ]] ||
  fail "the module's upgrade did not restart the service"
[[ -f "$installed/bin/Logs/$service($first_process).log" ]] || fail "the upgrade removed the first run's log"
# Windows keeps an operator's own Parameters value: the earlier package's removal sees
# UPGRADINGPRODUCTCODE and only stops the service. Wine's removal does not, and uninstalls it first.
[[ -z $(reg_value "$service_key\\Parameters" Kept) ]] || fail "Wine now keeps the Parameters across an upgrade"

[[ $(msiexec /i "$(msi "$version")") == 67 ]] || fail "the downgrade to $version was not refused with 1603"
[[ $(listed_versions) == "$later" ]] || fail "after the downgrade Add/Remove Programs lists: $(listed_versions)"
msiinfo export "$work/QxServiceHost-$version-x64.msi" LaunchCondition |
  grep -qF 'A later version of QxServiceHost is installed already' || fail "the downgrade message is missing"

[[ $(msiexec /x "$(msi "$later" $service)") == 0 ]] || fail "msiexec /x of the module's package failed"
if wine64 reg query "$service_key" >/dev/null 2>&1 || [[ -e "$WINEPREFIX/drive_c/Program Files/QxHeartbeat" ]]; then
  fail "the module's uninstall left the service or its folder"
fi
[[ $(msiexec /x "$(msi "$later")") == 0 ]] || fail "msiexec /x failed"
# What the service's runs wrote is no file of the package: its logs and its watchdog status file.
left="$(cd "$installed" && find . -type f | sed 's|^\./||' |
  grep -vE "^bin/(Logs/|QxWatchdogAgent\.$service\.status$)" || true)"
[[ -z $left ]] || fail "uninstall left: $left"
[[ -f "$installed/bin/Logs/$service($first_process).log" ]] || fail "uninstall removed the logs"
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
