#!/usr/bin/env bash
# The release round trip: release, sign with a throwaway certificate, verify against the
# source; then an executable changed and signed again, and a zip whose executable is not
# the bare one, must both fail the verification; and the signed executable must run.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! top=$(git rev-parse --show-toplevel 2>/dev/null) || [[ ! $top -ef . ]]; then
  echo "not a git checkout: a release is made from a commit"
  exit 77
fi
work=$(mktemp -d)
trap 'WINEPREFIX="$work/wine" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
dist=$work/dist

# A key and a self-signed code-signing certificate that live as long as this test.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Varnholt test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl rand -hex 16 >"$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/key.p12" \
  -passout "file:$work/password"
sign() { osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 "$@" >/dev/null; }

VARNHOLT_DIST=$dist tools/release.sh >/dev/null
VARNHOLT_DIST=$dist tools/sign-release.sh -pkcs12 "$work/key.p12" -readpass "$work/password"
name=$(basename "$dist"/varnholt-*.tar.gz .tar.gz)
exe=$name-windows-x86_64.exe
osslsigncode verify -CAfile "$work/cert.pem" -in "$dist/$exe" >/dev/null
tools/verify-release.sh "$dist"

# expect_rejected FOLDER: the verification fails, for the bytes of the executable.
expect_rejected() {
  (cd "$1" && sha256sum "$exe" "$name-windows-x86_64.zip" "$name.tar.gz" "$name.buildinfo" \
    >SHA256SUMS)
  if tools/verify-release.sh "$1" >"$work/report"; then
    cat "$work/report"
    echo "FAILED: $1 passed the verification" >&2
    exit 1
  fi
  grep -q "^FAILED .*differs from the executable built" "$work/report"
}

# One byte of code changed, signed again: the signature verifies, the bytes do not match.
cp -r "$dist" "$work/changed"
osslsigncode remove-signature -in "$dist/$exe" -out "$work/bare.exe" >/dev/null
/usr/bin/python3 - "$work/bare.exe" <<'PYTHON'
import sys, pefile
path = sys.argv[1]
code = next(s for s in pefile.PE(path).sections if s.Name.rstrip(b"\0") == b".text")
with open(path, "r+b") as image:
    image.seek(code.PointerToRawData + 64)
    byte = image.read(1)
    image.seek(-1, 1)
    image.write(bytes([byte[0] ^ 0xFF]))
PYTHON
rm "$work/changed/$exe"
sign -in "$work/bare.exe" -out "$work/changed/$exe"
expect_rejected "$work/changed"
grep -q "^OK .*$exe: signature verifies" "$work/report"

# The bare executable is the signed one, but the zip holds the changed one.
cp -r "$dist" "$work/mixed"
/usr/bin/python3 tools/zip_with_executable.py "$dist/$name-windows-x86_64.zip" \
  "$work/mixed/$name-windows-x86_64.zip" "$work/changed/$exe"
expect_rejected "$work/mixed"

# The signed executable runs.
export WINEPREFIX=$work/wine WINEDEBUG=-all
errors=$(printf 'not an address\n' | wine "$dist/$exe" 2>&1 >/dev/null | tr -d '\r')
[[ $errors == *"Failed: Invalid url" ]] || { echo "FAILED: under Wine: $errors" >&2; exit 1; }
echo "release round trip: signed, verified, and tampering rejected"
