#!/usr/bin/env bash
# Signs the Windows executable that tools/release.sh wrote to dist/ (or to the folder
# VARNHOLT_DIST names) with Authenticode, SHA-256 and the program's name, checks the
# signature, puts the signed executable into the zip in place of the unsigned one, and
# rewrites SHA256SUMS. The options name the key for osslsigncode, as it takes them:
#   tools/sign-release.sh -pkcs12 FILE -readpass FILE [-ts URL]
#   tools/sign-release.sh -certs FILE -key FILE [-readpass FILE] [-ts URL]
#   tools/sign-release.sh -pkcs11module MODULE -pkcs11cert URI -key URI [-ts URL]
# -ts names a time-stamping server, so that the signature outlives the certificate. On any
# failure dist/ is left as it was; no key, certificate or password is written anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${VARNHOLT_DIST:-dist}

fail() {
  echo "tools/sign-release.sh: $*; $dist/ is unchanged." >&2
  exit 1
}
(($# > 0)) || fail "no key given: pass osslsigncode's options for it, such as" \
  "-pkcs12 FILE -readpass FILE"
exes=("$dist"/varnholt-*-windows-x86_64.exe)
[[ -f ${exes[0]} && ${#exes[@]} -eq 1 && -f $dist/SHA256SUMS ]] ||
  fail "no release files in $dist/: run tools/release.sh first"
exe=${exes[0]}
zip=${exe%.exe}.zip
[[ -f $zip ]] || fail "$zip is missing: run tools/release.sh again"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) ||
  fail "the files in $dist/ do not match its SHA256SUMS: run tools/release.sh again"

# Inside dist/, so that each finished file is moved into place by a rename.
work=$(mktemp -d "$dist/.signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
if osslsigncode extract-signature -in "$exe" -out "$work/existing" >/dev/null 2>&1; then
  fail "$exe is signed already"
fi
osslsigncode sign "$@" -h sha256 -n Varnholt -in "$exe" -out "$work/signed.exe" \
  >"$work/sign.log" 2>&1 || {
  cat "$work/sign.log" >&2
  fail "osslsigncode could not sign (its message is above): check the key, the certificate" \
    "and the password"
}

# The signature must verify against the certificates it carries, with the system's
# authorities for a chain that ends in one of them.
osslsigncode extract-signature -pem -in "$work/signed.exe" -out "$work/signature.pem" >/dev/null
openssl pkcs7 -print_certs -in "$work/signature.pem" -out "$work/chain.pem"
if [[ -r /etc/ssl/certs/ca-certificates.crt ]]; then
  cat /etc/ssl/certs/ca-certificates.crt >>"$work/chain.pem"
fi
osslsigncode verify -CAfile "$work/chain.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1 || {
  cat "$work/verify.log" >&2
  fail "the signature does not verify (osslsigncode's report is above)"
}

# The zip keeps its entries' order, dates and permissions; only the executable changes.
/usr/bin/python3 tools/zip_with_executable.py "$zip" "$work/signed.zip" "$work/signed.exe"

mv "$work/signed.exe" "$work/$(basename "$exe")"
mv "$work/signed.zip" "$work/$(basename "$zip")"
while read -r hash file; do
  [[ -f $work/$file ]] && hash=$(sha256sum <"$work/$file" | cut -d ' ' -f 1)
  printf '%s  %s\n' "$hash" "$file"
done <"$dist/SHA256SUMS" >"$work/SHA256SUMS"
# Renamed within one file system, each file is replaced whole; the sums come last.
for file in "$(basename "$exe")" "$(basename "$zip")" SHA256SUMS; do
  mv "$work/$file" "$dist/$file"
done
echo "tools/sign-release.sh: signed $exe:"
sed -n 's/^[[:space:]]*\(Subject\|Issuer\|Serial\) *:/  \1:/p' "$work/verify.log" | head -n 3
cat "$dist/SHA256SUMS"
