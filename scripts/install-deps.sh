#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests, clang-tidy and Wine need. Does nothing
# when all of them are present.
set -euo pipefail

packages=(
  cmake make g++ git clang clang-format clang-tidy googletest libgtest-dev libgmock-dev libbenchmark-dev
  lld-14 llvm-14 libc++-14-dev libc++abi-14-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64
  util-linux libclang-rt-14-dev
  wixl msitools osslsigncode openssl
)

missing=()
for package in "${packages[@]}"; do
  if [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) != "install ok installed" ]]; then
    missing+=("$package")
  fi
done
((${#missing[@]} == 0)) && exit 0

echo "Installing: ${missing[*]}" >&2
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
