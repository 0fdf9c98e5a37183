#!/usr/bin/env bash
# SignTest.sh <build folder> <work folder> <version>
# scripts/sign.sh with a throw-away certificate made here by openssl: every .exe, .dll and .msi of
# the installed tree and of the product's package is signed and verifies against that certificate;
# a wrong password signs nothing and says so; the signed host, control tool and package work under
# Wine as the unsigned ones do. Runs in the Wine prefix of WINEPREFIX.
set -euo pipefail
build="$1"
work="$2"
version="$3"
cmake="${CMAKE:-cmake}"
repo="$(cd "$(dirname "$0")/../.." && pwd)"

fail() {
  echo "$*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=QxServiceHost test" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
echo "test password" >password
echo "wrong password" >wrong
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout file:password
msi="QxServiceHost-$version-x64.msi"
"$cmake" -D BUILD="$build" -D WORK="$work/msi" -D VERSION="$version" -D OUTPUT="$work/$msi" \
  -P "$repo/cmake/msi/BuildMsi.cmake" >/dev/null
package="$work/msi/stage"
cp "$package/bin/QxServiceHost.exe" unsigned.exe

if "$repo/scripts/sign.sh" --pkcs12 cert.p12 --password-file wrong unsigned.exe 2>refusal; then
  fail "a wrong password signed unsigned.exe"
fi
grep -q "^sign.sh: unsigned.exe was not signed: " refusal || fail "the refusal does not name the file: $(cat refusal)"
verified() {
  osslsigncode verify "$@" 2>&1 || true
}
grep -q "No signature found" <<<"$(verified -in unsigned.exe)" || fail "unsigned.exe looks signed"

"$repo/scripts/sign.sh" --pkcs12 cert.p12 --password-file password "$package" "$msi" >signed
mapfile -t files < <(find "$package" -type f \( -name '*.exe' -o -name '*.dll' \) | sort)
files+=("$msi")
(($(wc -l <signed) == ${#files[@]})) || fail "signed $(wc -l <signed) files of ${#files[@]}: $(cat signed)"
for file in "${files[@]}"; do
  grep -qxF "signed $file" signed || fail "not said to be signed: $file"
  grep -q "^Signature verification: ok" <<<"$(verified -in "$file" -CAfile cert.pem)" || fail "does not verify: $file"
done

wine_path() {
  wine64 winepath -w "$1" | tr -d '\r'
}
# A host run by hand ends the same way signed and unsigned.
expected=0 actual=0
wine64 unsigned.exe -name=QxSignTest >/dev/null 2>&1 || expected=$?
wine64 "$package/bin/QxServiceHost.exe" -name=QxSignTest >/dev/null 2>&1 || actual=$?
((expected != 0 && actual == expected)) || fail "the signed host ended with $actual, the unsigned with $expected"
wine64 "$package/bin/QxServiceCtl.exe" run "$(wine_path "$package/samples/Heartbeat/QxSampleHeartbeat.dll")" \
  --seconds 1 >/dev/null || fail "the signed control tool did not run the signed sample module"
rc=0
wine64 msiexec /i "$(wine_path "$work/$msi")" /qn || rc=$?
((rc == 0)) || fail "msiexec /i of the signed package ended with $rc"
wine64 msiexec /x "$(wine_path "$work/$msi")" /qn
echo "signed ${#files[@]} files; each verifies, and the signed host, tool and package run"
