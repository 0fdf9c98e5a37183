#!/usr/bin/env bash
# scripts/sign.sh --pkcs12 <certificate.p12> --password-file <file> [--timestamp <RFC 3161 URL>]
#                 [--description <text>] <file or folder>...
# Signs every .exe, .dll and .msi given, or found below a folder given, with Authenticode through
# osslsigncode (SHA-256), from a PKCS#12 file whose password is the first line of the password file.
# With --timestamp the signature is time-stamped by that server, for a machine that reaches one.
# Each file is signed into a copy and replaces the original only once osslsigncode has written it and
# the copy reads back as signed by that certificate; a file that fails is named and stays as it
# was, and the script exits 1. Nothing that was not signed is reported as signed.
set -euo pipefail

usage() {
  sed -n '2,3p' "$0" | sed 's/^# //' >&2
  exit 2
}

pkcs12='' password_file='' timestamp='' description='QxServiceHost'
targets=()
while (($#)); do
  case "$1" in
  --pkcs12) pkcs12="${2:-}" && shift 2 ;;
  --password-file) password_file="${2:-}" && shift 2 ;;
  --timestamp) timestamp="${2:-}" && shift 2 ;;
  --description) description="${2:-}" && shift 2 ;;
  -*) echo "sign.sh: unknown option $1" >&2 && usage ;;
  *) targets+=("$1") && shift ;;
  esac
done
[[ -n $pkcs12 && -n $password_file && ${#targets[@]} -gt 0 ]] || usage
for file in "$pkcs12" "$password_file"; do
  [[ -r $file ]] || { echo "sign.sh: cannot read $file" >&2 && exit 2; }
done
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed" >&2 && exit 2; }

files=()
for target in "${targets[@]}"; do
  if [[ -d $target ]]; then
    mapfile -t -O "${#files[@]}" files < <(find "$target" -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.msi' \) | sort)
  elif [[ -f $target ]]; then
    files+=("$target")
  else
    echo "sign.sh: no such file or folder: $target" >&2
    exit 2
  fi
done

# The copy carries a signature whose digest is the file's own (a PE's message digest, an MSI's
# DigitalSignature stream). Whether the certificate is trusted is
# the verifying machine's question, not the signer's.
signed_whole() {
  local report current calculated
  report="$(osslsigncode verify -in "$1" 2>&1 || true)"
  current="$(sed -nE 's/^Current (message digest|DigitalSignature) *: *//p' <<<"$report" | head -n 1)"
  calculated="$(sed -nE 's/^Calculated (message digest|DigitalSignature) *: *//p' <<<"$report" | head -n 1)"
  [[ -n $current && $current == "$calculated" ]]
}

options=(-pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "$description")
[[ -n $timestamp ]] && options+=(-ts "$timestamp")
failed=0
for file in "${files[@]}"; do
  signed="$file.signing"
  rm -f "$signed"
  if osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1 && signed_whole "$signed"; then
    mv "$signed" "$file"
    echo "signed $file"
  else
    echo "sign.sh: $file was not signed: $(tail -n 1 "$signed.log")" >&2
    rm -f "$signed"
    failed=1
  fi
  rm -f "$signed.log"
done
exit "$failed"
