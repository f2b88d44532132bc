#!/usr/bin/env bash
# Checks downloaded release files against the source they were built from:
#   tools/verify-release.sh FOLDER
# FOLDER holds SHA256SUMS, the source archive, and the executable, the zip or both (the
# build-info file too, where the release has one). Every file present is checked against
# SHA256SUMS; the executable is built from the source archive exactly as tools/release.sh
# builds it; and the downloaded executable and the one in the zip, each without its
# signature if it has one, must equal that build byte for byte. Ends with status 0 only when
# everything matches. Nothing outside a temporary folder is changed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/release-common.sh"
folder=${1:?usage: tools/verify-release.sh FOLDER}
cd "$folder"

failures=0
report() { # report OK|FAILED WHAT [DETAIL]
  printf '%-7s %s\n' "$1" "$2${3:+: $3}"
  [[ $1 == OK ]] || failures=$((failures + 1))
}

[[ -f SHA256SUMS ]] || { echo "tools/verify-release.sh: $folder holds no SHA256SUMS" >&2; exit 1; }
sources=(varnholt-*.tar.gz)
[[ -f ${sources[0]} && ${#sources[@]} -eq 1 ]] || {
  echo "tools/verify-release.sh: $folder needs the source archive, varnholt-<version>.tar.gz" >&2
  exit 1
}
name=${sources[0]%.tar.gz}
exe=$name-windows-x86_64.exe
zip=$name-windows-x86_64.zip
buildinfo=$name.buildinfo

while read -r hash file; do
  file=${file#\*}
  if [[ ! -f $file ]]; then
    echo "-       $file: not in $folder, not checked"
  elif [[ $(sha256sum <"$file" | cut -d ' ' -f 1) == "$hash" ]]; then
    report OK "$file" "matches SHA256SUMS"
  else
    report FAILED "$file" "does not match SHA256SUMS"
  fi
done <SHA256SUMS
for file in "${sources[0]}" "$exe" "$zip" "$buildinfo"; do
  if [[ -f $file ]] && ! grep -q " \*\?$file\$" SHA256SUMS; then
    report FAILED "$file" "not listed in SHA256SUMS"
  fi
done
[[ -f $exe || -f $zip ]] || report FAILED "$exe" "neither it nor $zip is in $folder"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
release_toolchain_versions >"$work/ours"
# Built as tools/release.sh builds it: from the unpacked archive, with the commit's date.
if [[ -f $buildinfo ]]; then
  sed -n '/^Installed-Build-Depends:/,/^[^ ]/{/^ /p}' "$buildinfo" >"$work/theirs"
  SOURCE_DATE_EPOCH=$(sed -n 's/^Source-Date-Epoch: //p' "$buildinfo")
  export SOURCE_DATE_EPOCH
else
  echo "-       $buildinfo: not in $folder; building with this machine's toolchain as it is"
fi
tar -xzf "${sources[0]}" -C "$work"
release_build_windows "$work/$name" "$work/stage" ||
  { echo "tools/verify-release.sh: the source archive did not build" >&2; exit 1; }
rebuilt=$work/stage/bin/varnholt.exe

# compare LABEL EXECUTABLE: reports the signature, if any, and compares the bytes without it.
compare() {
  local label=$1 candidate=$2 bare=$work/bare.exe
  # osslsigncode writes no file that exists already.
  rm -f "$bare" "$work/signature.pem" "$work/chain.pem"
  if osslsigncode extract-signature -pem -in "$candidate" -out "$work/signature.pem" \
    >/dev/null 2>&1; then
    openssl pkcs7 -print_certs -in "$work/signature.pem" -out "$work/chain.pem"
    local signer
    signer=$(openssl x509 -in "$work/chain.pem" -noout -subject -issuer -nameopt oneline |
      sed 's/^subject=/signed by /; s/^issuer=/issued by /' | paste -sd ';' | sed 's/;/; /')
    # Checked against the certificates it carries: whether Windows trusts the signer is
    # for Windows to say (Properties, Digital Signatures).
    if osslsigncode verify -CAfile "$work/chain.pem" -in "$candidate" >/dev/null 2>&1; then
      report OK "$label" "signature verifies, $signer"
    else
      report FAILED "$label" "signature does not verify, $signer"
    fi
    osslsigncode remove-signature -in "$candidate" -out "$bare" >/dev/null
  else
    echo "-       $label: not signed"
    cp "$candidate" "$bare"
  fi
  if cmp -s "$bare" "$rebuilt"; then
    report OK "$label" "identical to the executable built from ${sources[0]}"
  else
    report FAILED "$label" "differs from the executable built from ${sources[0]}"
  fi
}

[[ -f $exe ]] && compare "$exe" "$exe"
if [[ -f $zip ]]; then
  /usr/bin/python3 - "$zip" "$work/unzipped" <<'PYTHON'
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
PYTHON
  compare "$zip: varnholt.exe" "$work/unzipped/varnholt.exe"
  for document in LICENSE THIRD-PARTY-NOTICES.txt README.md; do
    if cmp -s "$work/unzipped/$document" "$work/stage/share/doc/varnholt/$document"; then
      report OK "$zip: $document" "identical to the source archive's"
    else
      report FAILED "$zip: $document" "differs from the source archive's"
    fi
  done
fi

if ((failures > 0)); then
  if [[ -f $buildinfo ]] && ! cmp -s "$work/theirs" "$work/ours"; then
    echo "This machine's toolchain differs from the one $buildinfo names:"
    { diff "$work/theirs" "$work/ours" || true; } |
      sed -n 's/^< /  release built with:/p; s/^> /  this machine has:  /p'
  fi
  echo "tools/verify-release.sh: $failures check(s) failed"
  exit 1
fi
echo "tools/verify-release.sh: every file matches the source it was built from"
