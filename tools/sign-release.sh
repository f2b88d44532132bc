#!/usr/bin/env bash
# Signs the Windows executable that tools/release.sh wrote to dist/ (or to the folder
# VARNHOLT_DIST names) with Authenticode, SHA-256 and the program's name, checks the
# signature, remakes the zip with the signed executable, and rewrites SHA256SUMS. The
# options name the key for osslsigncode, as it takes them:
#   tools/sign-release.sh -pkcs12 FILE -readpass FILE [-ts URL]
#   tools/sign-release.sh -certs FILE -key FILE [-readpass FILE] [-ts URL]
#   tools/sign-release.sh -pkcs11module MODULE -pkcs11cert URI -key URI [-ts URL]
# -ts names a time-stamping server, so that the signature outlives the certificate. The
# signed set is made in a folder beside dist/ and swapped in by renames: stopped at any
# point, dist/ holds the whole unsigned release or the whole signed one (after a kill, the
# next run of this script or of tools/release.sh finishes or undoes the swap first). No key,
# certificate or password is written anywhere.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=release-common.sh
source "$tools/release-common.sh"
dist=${VARNHOLT_DIST:-dist}
dist=${dist%/}

fail() {
  echo "tools/sign-release.sh: $*; $dist/ is unchanged." >&2
  exit 1
}
(($# > 0)) || fail "no key given: pass osslsigncode's options for it, such as" \
  "-pkcs12 FILE -readpass FILE"
server=
previous=
for option in "$@"; do
  [[ $option == -pass ]] && fail "-pass shows the password to every user (ps) and keeps it in" \
    "your shell's history: put it in a file only you can read, and pass -readpass FILE"
  [[ $previous == -ts || $previous == -t ]] && server=$option
  previous=$option
done
[[ -n $server ]] || echo "tools/sign-release.sh: no -ts: without a time stamp, the signature" \
  "stops verifying when the certificate expires" >&2

release_recover "$dist"
infos=("$dist"/varnholt-*.buildinfo)
[[ ${#infos[@]} -eq 1 && -f ${infos[0]} && -f $dist/SHA256SUMS ]] ||
  fail "no release files in $dist/: run tools/release.sh first"
version=${infos[0]##*/varnholt-}
release_names "${version%.buildinfo}"
for file in "${release_files[@]}"; do
  [[ -f $dist/$file ]] || fail "$dist/$file is missing: run tools/release.sh again"
done
(cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) >/dev/null 2>&1 ||
  fail "the files in $dist/ do not match its SHA256SUMS: run tools/release.sh again"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if osslsigncode extract-signature -in "$dist/$exe" -out "$work/existing" >/dev/null 2>&1; then
  fail "$dist/$exe is signed already"
fi

new=$dist.release-new
mkdir "$new"
trap 'rm -rf "$work" "$new"' EXIT
if ! osslsigncode sign "$@" -h sha256 -n Varnholt -in "$dist/$exe" -out "$new/$exe" \
  >"$work/sign.log" 2>&1; then
  cat "$work/sign.log" >&2
  if [[ -n $server ]] && grep -q -i -E 'timestamp|time-stamp|HTTP failure' "$work/sign.log"; then
    fail "the time-stamping server $server could not be reached or did not answer" \
      "(osslsigncode's message is above): try again later, or name another with -ts"
  fi
  fail "osslsigncode could not sign (its message is above): check the key, the certificate" \
    "and the password"
fi

# The signature must verify against the certificates it carries, with the system's
# authorities for a chain that ends in one of them.
osslsigncode extract-signature -pem -in "$new/$exe" -out "$work/signature.pem" >/dev/null
release_signature_chain "$work/signature.pem" "$work/chain.pem"
osslsigncode verify -CAfile "$work/chain.pem" -in "$new/$exe" >"$work/verify.log" 2>&1 || {
  cat "$work/verify.log" >&2
  fail "the signature does not verify (osslsigncode's report is above): include the" \
    "certificates between yours and a trusted authority (-certs, or in the PKCS#12 file)"
}

# The zip, remade by the one zip writer with the signed executable and the same documents.
/usr/bin/python3 -m zipfile -e "$dist/$zip" "$work/unzipped"
SOURCE_DATE_EPOCH=$(sed -n 's/^Source-Date-Epoch: //p' "${infos[0]}")
export SOURCE_DATE_EPOCH
release_zip "$new/$zip" "$new/$exe" "$work/unzipped"
cp "$dist/$archive" "$dist/$buildinfo" "$new/"
(cd "$new" && sha256sum "${release_files[@]}" >SHA256SUMS)
release_replace "$dist"
echo "tools/sign-release.sh: signed $dist/$exe:"
sed -n 's/^[[:space:]]*\(Subject\|Issuer\|Serial\) *:/  \1:/p' "$work/verify.log" | head -n 3
cat "$dist/SHA256SUMS"
