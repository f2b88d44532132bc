#!/usr/bin/env bash
# The release round trip, as its maker and an attacker would try it: in a clone at a signed
# tag, release and verify, sign and verify; then every tampered copy of the release must be
# refused for its own reason, signing must refuse what it must, and the signed executable
# runs under Wine. The scripts under test are this tree's; the release is of its HEAD.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
if ! top=$(git -C "$here" rev-parse --show-toplevel 2>/dev/null) || [[ ! $top -ef $here ]]; then
  echo "not a git checkout: a release is made from a commit"
  exit 77
fi
tools=$here/tools
work=$(mktemp -d)
export GNUPGHOME=$work/gnupg WINEPREFIX=$work/wine WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  gpgconf --kill gpg-agent 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failed() {
  [[ ! -f $work/report ]] || cat "$work/report"
  echo "FAILED: $*" >&2
  exit 1
}

# A throwaway signing identity for the tag, and a key with a self-signed code-signing
# certificate for the executable.
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key "Varnholt tag signer <tags@varnholt.invalid>" \
  ed25519 sign 1d 2>/dev/null
certificate() { # certificate NAME [OPTIONS...]: a key and certificate, NAME.key and NAME.pem
  local name=$1
  shift
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Varnholt $name" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/$name.key" -out "$work/$name.pem" \
    "$@" 2>/dev/null
}
certificate signer
openssl rand -hex 16 >"$work/password"
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -out "$work/signer.p12" \
  -passout "file:$work/password"

git clone -q "$here" "$work/clone"
cd "$work/clone"
version=$(tools/version.sh)
git -c user.name=Tester -c user.email=tags@varnholt.invalid -c user.signingkey=tags@varnholt.invalid \
  tag -s "v$version" -m "Varnholt $version"
name=varnholt-$version
exe=$name-windows-x86_64.exe
zip=$name-windows-x86_64.zip
files=("$exe" "$zip" "$name.tar.gz" "$name.buildinfo")

# verify FOLDER: runs the verification in the clone, its report in $work/report.
verify() { "$tools/verify-release.sh" -- "$1" >"$work/report" 2>&1; }
sums() { (cd "$1" && sha256sum "${files[@]}" >SHA256SUMS); }

dist="$work/-release files"
VARNHOLT_DIST=$dist "$tools/release.sh" >/dev/null
cp -r "$dist" "$work/unsigned"
verify "$dist" || failed "the unsigned release did not verify"
grep -q "^OK      tag v$version: signed; .*Good signature from \"Varnholt tag signer" \
  "$work/report" || failed "the signed tag was not verified"
VARNHOLT_DIST=$dist "$tools/sign-release.sh" -pkcs12 "$work/signer.p12" -readpass "$work/password" \
  >/dev/null 2>&1
osslsigncode verify -CAfile "$work/signer.pem" -in "$dist/$exe" >/dev/null
verify "$dist" || failed "the signed release did not verify"
grep -q "SHA-256 fingerprint: $(openssl x509 -in "$work/signer.pem" -noout -fingerprint -sha256 |
  cut -d = -f 2)" "$work/report" || failed "the signer's fingerprint was not shown"

# Another commit released under the same name, for the tampering below.
git clone -q "$work/clone" "$work/other"
(
  cd "$work/other"
  sed -i 's/Failed: Invalid url/Failed: Invalid url!/' src/console/main.cpp
  git -c user.name=Attacker -c user.email=a@varnholt.invalid commit -qam "A backdoor"
  # Only a commit that its tag names is released, into a folder of release files alone.
  ! "$tools/release.sh" 2>"$work/report" || failed "a commit without its tag was released"
  grep -q "v$version names .*, not HEAD" "$work/report" || failed "no reason for the tag"
  git -c user.name=Attacker -c user.email=a@varnholt.invalid tag -f -a "v$version" -m x >/dev/null 2>&1
  ! VARNHOLT_DIST=$work "$tools/release.sh" 2>"$work/report" || failed "released into $work"
  grep -q "which is not a release file" "$work/report" || failed "no reason for the folder"
  VARNHOLT_DIST=$work/backdoor "$tools/release.sh" >/dev/null
)
certificate other
# A certificate from a throwaway authority, which no signature includes.
certificate authority
openssl req -newkey rsa:2048 -nodes -subj "/CN=Varnholt leaf" -keyout "$work/leaf.key" \
  -out "$work/leaf.csr" 2>/dev/null
openssl x509 -req -in "$work/leaf.csr" -CA "$work/authority.pem" -CAkey "$work/authority.key" \
  -days 1 -extfile <(echo extendedKeyUsage=codeSigning) -out "$work/leaf.pem" 2>/dev/null

# tamper CASE FOLDER: changes the signed release in FOLDER as an attacker would.
tamper() {
  local folder=$2
  case $1 in
    another-commit) cp "$work/backdoor"/* "$folder/" ;;
    another-commit-named-ours)
      cp "$work/backdoor"/* "$folder/"
      sed -i "s/^Commit: .*/Commit: $(git rev-parse HEAD)/" "$folder/$name.buildinfo"
      sed -i "s/^Source-Date-Epoch: .*/Source-Date-Epoch: $(git log -1 --format=%ct)/" \
        "$folder/$name.buildinfo" ;;
    build-scripts-changed)
      git archive --prefix="$name/" HEAD | tar -xf - -C "$work"
      echo "execute_process(COMMAND touch \"$work/ran\")" >>"$work/$name/CMakeLists.txt"
      tar -czf "$folder/$name.tar.gz" -C "$work" "$name" ;;
    archive-trailing-bytes) printf 'hidden' >>"$folder/$name.tar.gz" ;;
    extra-zip-entry)
      /usr/bin/python3 -c 'import sys, zipfile
zipfile.ZipFile(sys.argv[1], "a").writestr("version.dll", "MZ")' "$folder/$zip" ;;
    duplicate-zip-entry)
      /usr/bin/python3 -W ignore - "$folder/$zip" "$work/backdoor/$exe" <<'PYTHON'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as honest:
    entries = [(entry, honest.read(entry)) for entry in honest.infolist()]
with zipfile.ZipFile(sys.argv[1], "w") as archive:
    archive.writestr("varnholt.exe", open(sys.argv[2], "rb").read())
    for entry, data in entries:
        archive.writestr(entry, data)
PYTHON
      ;;
    decoy-sum)
      cp "$work/backdoor/$exe" "$folder/evil-windows-x86_64.exe"
      (cd "$folder" && sha256sum evil-windows-x86_64.exe | cat - SHA256SUMS >sums &&
        mv sums SHA256SUMS)
      return ;;
    unlisted-file) echo MZ >"$folder/version.dll" ;;
    sum-changed) sed -i "1s/^./$(head -c 1 "$folder/SHA256SUMS" | tr 0-9a-f 1-9a-f0)/" \
      "$folder/SHA256SUMS"; return ;;
    certificate-table-grown)
      /usr/bin/python3 - "$folder/$exe" <<'PYTHON'
import struct, sys, pefile
path = sys.argv[1]
image = pefile.PE(path, fast_load=True)
security = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
# The table's size, in the header and in its one entry, grown to hold 4 KiB more.
table = image.OPTIONAL_HEADER.DATA_DIRECTORY[security]
table.Size += 4096
data = bytearray(image.write()) + b"\0" * 4096
data[table.VirtualAddress:table.VirtualAddress + 4] = struct.pack("<I", table.Size)
open(path, "wb").write(data)
PYTHON
      ;;
    unverifiable-signature)
      osslsigncode remove-signature -in "$folder/$exe" -out "$work/bare.exe" >/dev/null
      rm "$folder/$exe"
      osslsigncode sign -certs "$work/leaf.pem" -key "$work/leaf.key" -h sha256 \
        -in "$work/bare.exe" -out "$folder/$exe" >/dev/null
      rm "$work/bare.exe" ;;
    nested-signature)
      osslsigncode sign -nest -certs "$work/other.pem" -key "$work/other.key" -h sha256 \
        -in "$folder/$exe" -out "$work/nested.exe" >/dev/null
      mv "$work/nested.exe" "$folder/$exe" ;;
  esac
  [[ $1 == unlisted-file ]] || sums "$folder"
}

while IFS='|' read -r case reason; do
  folder="$work/tampered $case"
  cp -r "$dist" "$folder"
  tamper "$case" "$folder"
  ! verify "$folder" || failed "$case: the verification passed"
  grep -q -E -- "$reason" "$work/report" || failed "$case: refused, but not for '$reason'"
done <<EOF_CASES
another-commit|^FAILED  $name.buildinfo: Commit is '[0-9a-f]*', not v$version's
another-commit-named-ours|^FAILED  $name.tar.gz: is not git archive of v$version
build-scripts-changed|^FAILED  $name.tar.gz: is not git archive of v$version
archive-trailing-bytes|^FAILED  $name.tar.gz: is not git archive of v$version
extra-zip-entry|^FAILED  $zip: differs from the zip of that executable
duplicate-zip-entry|^FAILED  $zip: differs from the zip of that executable
decoy-sum|^FAILED  SHA256SUMS: lists 'evil-windows-x86_64.exe', which is not a file of
unlisted-file|^FAILED  version.dll: in the folder, but not listed in SHA256SUMS
sum-changed|^FAILED  $exe: does not match SHA256SUMS
certificate-table-grown|^FAILED  $exe: differs from .* v$version with its signature attached
unverifiable-signature|^FAILED  $exe: its signature does not verify
nested-signature|^FAILED  $exe: a second signature is nested
EOF_CASES
[[ ! -e $work/ran ]] || failed "verification ran the build scripts of a downloaded archive"
verify "$work/tampered another-commit-named-ours" || true
grep -q "^FAILED  $exe: differs from the executable built" "$work/report" ||
  failed "another commit's executable was not refused"

# Signing refuses, and leaves the folder as it was: a key on the command line; a release
# signed already; files that do not match their sums; a signature by a certificate whose
# authority is not included.
cp -r "$work/unsigned" "$work/unmatched"
echo >>"$work/unmatched/$name.buildinfo"
while IFS='|' read -r folder reason options; do
  cp -r "$folder" "$work/before"
  # shellcheck disable=SC2086 # the options are words
  ! VARNHOLT_DIST=$folder "$tools/sign-release.sh" $options >/dev/null 2>"$work/report" ||
    failed "signing $folder with $options passed"
  grep -q -- "$reason" "$work/report" || failed "signing $folder: not refused for '$reason'"
  diff -r "$work/before" "$folder" >/dev/null || failed "signing $folder changed it"
  rm -rf "$work/before"
done <<EOF_CASES
$work/unsigned|-pass shows the password|-pkcs12 $work/signer.p12 -pass secret
$dist|is signed already|-pkcs12 $work/signer.p12 -readpass $work/password
$work/unmatched|do not match its SHA256SUMS|-pkcs12 $work/signer.p12 -readpass $work/password
$work/unsigned|the signature does not verify|-certs $work/leaf.pem -key $work/leaf.key
EOF_CASES

# Signing killed between its renames, the unsigned set moved aside and the signed one not yet
# in place: the next run finishes the swap.
mv "$dist" "$dist.release-ready"
cp -r "$work/unsigned" "$dist.release-old"
! VARNHOLT_DIST=$dist "$tools/sign-release.sh" -pkcs12 "$work/signer.p12" \
  -readpass "$work/password" 2>"$work/report" || failed "a half-swapped release was signed again"
if ! grep -q "is signed already" "$work/report" || ! verify "$dist" || [[ -e $dist.release-old ]]
then
  failed "a half-done swap was not finished"
fi

# The signed executable runs.
errors=$(printf 'not an address\n' | wine "$dist/$exe" 2>&1 >/dev/null | tr -d '\r')
[[ $errors == *"Failed: Invalid url" ]] || failed "under Wine: $errors"
echo "release round trip: released, signed and verified at the tag; tampering refused"
