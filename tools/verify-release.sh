#!/usr/bin/env bash
# Proves that downloaded release files are the repository's tagged commit, byte for byte:
#   tools/verify-release.sh [--] FOLDER
# Run it in a clone of the repository. FOLDER holds SHA256SUMS, the build-info file, and any
# of the executable, the zip and the source archive. The tag v<version> must be in the clone;
# the source archive must be git archive of its commit; the executable is built from that
# commit's export, never from anything downloaded, and must equal the download, with the
# download's signature, if any, attached; the zip must be the one the release's zip writer
# makes of that executable and the commit's documents. Nothing downloaded is run or built,
# and nothing outside a temporary folder is changed. Ends with status 0 only when every check
# passes.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=release-common.sh
source "$tools/release-common.sh"

failures=0
report() { # report OK|FAILED WHAT [DETAIL...]
  printf '%-7s %s\n' "$1" "$2${3:+: ${*:3}}"
  [[ $1 == OK ]] || failures=$((failures + 1))
}
note() { # note WHAT DETAIL...: a fact that is neither a pass nor a failure
  printf '%-7s %s\n' - "$1: ${*:2}"
}
stop() { # stop WHAT REASON: a failure after which nothing more can be checked
  report FAILED "$@"
  echo "tools/verify-release.sh: verification stopped; nothing in the folder is vouched for" >&2
  exit 1
}

[[ ${1-} == -- ]] && shift
(($# == 1)) || { echo "usage: tools/verify-release.sh [--] FOLDER" >&2; exit 2; }
folder=$(cd -- "$1" 2>/dev/null && pwd) || stop "$1" "no such folder"
top=$(git rev-parse --show-toplevel 2>/dev/null) ||
  stop "$PWD" "not in a clone of the repository: clone it, and run this in the clone"
cd "$top"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The build-info file names the version, and the version every other file.
infos=("$folder"/varnholt-*.buildinfo)
[[ ${#infos[@]} -eq 1 && -f ${infos[0]} ]] ||
  stop "$folder" "needs the release's one build-info file, varnholt-<version>.buildinfo"
version=${infos[0]##*/varnholt-}
version=${version%.buildinfo}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || stop "${infos[0]##*/}" "not a release's version"
release_names "$version"

# SHA256SUMS, read strictly: each line a hash, two blanks and one of this release's files,
# ended by a line feed; each file at most once; and every file of the folder listed.
sums=$folder/SHA256SUMS
[[ -f $sums ]] || stop SHA256SUMS "not in $folder"
[[ $(tail -c 1 "$sums" | od -An -tx1) == " 0a" ]] ||
  stop SHA256SUMS "its last line has no line feed"
declare -A listed
while IFS= read -r line; do
  [[ $line =~ ^([0-9a-f]{64})\ \ (.+)$ ]] ||
    stop SHA256SUMS "the line '$line' is not a SHA-256 hash, two blanks and a file name"
  file=${BASH_REMATCH[2]}
  known=
  for release_file in "${release_files[@]}"; do
    [[ $file == "$release_file" ]] && known=yes
  done
  [[ -n $known ]] || stop SHA256SUMS "lists '$file', which is not a file of $name"
  [[ -z ${listed[$file]+listed} ]] || stop SHA256SUMS "lists $file twice"
  listed[$file]=${BASH_REMATCH[1]}
done <"$sums"
while IFS= read -r -d '' entry; do
  entry=${entry#"$folder"/}
  [[ $entry == SHA256SUMS || -n ${listed[$entry]+listed} ]] ||
    stop "$entry" "in the folder, but not listed in SHA256SUMS: nothing vouches for it"
done < <(find "$folder" -mindepth 1 -print0)
for file in "${release_files[@]}"; do
  if [[ ! -f $folder/$file ]]; then
    note "$file" "not in the folder, not checked"
  elif [[ $(sha256sum <"$folder/$file" | cut -d ' ' -f 1) == "${listed[$file]}" ]]; then
    report OK "$file" "matches SHA256SUMS"
  else
    report FAILED "$file" "does not match SHA256SUMS"
  fi
done
[[ -f $folder/$exe || -f $folder/$zip ]] || stop "$folder" "holds neither $exe nor $zip"

# The tag, and the commit it names.
tag=v$version
git rev-parse -q --verify "refs/tags/$tag" >/dev/null ||
  stop "$tag" "no such tag in this clone: fetch the tags with 'git fetch --tags' and run this again"
commit=$(git rev-parse "$tag^{commit}")
if [[ $(git cat-file -t "refs/tags/$tag") == tag ]] &&
  git cat-file tag "refs/tags/$tag" | grep -q '^-----BEGIN [A-Z ]*SIGNATURE-----$'; then
  if git verify-tag "$tag" >"$work/tag" 2>&1; then
    report OK "tag $tag" "signed; git verify-tag says: $(grep -m 1 -i good "$work/tag" ||
      tail -n 1 "$work/tag")"
  else
    report FAILED "tag $tag" "signed, but git verify-tag says: $(paste -sd ' ' "$work/tag")"
  fi
else
  note "tag $tag" "not signed: it is as trustworthy as the clone you fetched it into"
fi
echo "        $tag names commit $commit"

# The build-info file must name that commit and its date; the toolchain may differ.
date=$(git log -1 --format=%ct "$commit")
field() { sed -n "s/^$1: //p" "${infos[0]}" | head -n 1; }
for check in "Version $version" "Commit $commit" "Source-Date-Epoch $date"; do
  if [[ $(field "${check%% *}") == "${check#* }" ]]; then
    report OK "$buildinfo" "${check%% *} is $tag's"
  else
    report FAILED "$buildinfo" "${check%% *} is '$(field "${check%% *}")', not $tag's ${check#* }"
  fi
done
sed -n '/^Installed-Build-Depends:/,/^[^ ]/{/^ /p}' "${infos[0]}" >"$work/theirs"
release_toolchain_versions >"$work/ours"
if cmp -s "$work/theirs" "$work/ours"; then
  note toolchain "this machine has the versions $buildinfo names"
else
  note toolchain "this machine's differs from the one $buildinfo names; the bytes may differ too"
  { diff "$work/theirs" "$work/ours" || true; } |
    sed -n 's/^< /          release built with:/p; s/^> /          this machine has:  /p'
fi

# The source archive: the same tar stream as git archive of the commit.
git archive --format=tar --prefix="$name/" "$commit" >"$work/source.tar"
if [[ -f $folder/$archive ]]; then
  # Nothing may follow the compressed tar, where tar would not look.
  if gzip -t <"$folder/$archive" 2>/dev/null &&
    cmp -s <(gzip -dc <"$folder/$archive") "$work/source.tar"; then
    report OK "$archive" "holds exactly git archive of $tag"
    if gzip -n -9 <"$work/source.tar" | cmp -s - "$folder/$archive"; then
      note "$archive" "its gzip bytes are this machine's too"
    else
      note "$archive" "its gzip bytes differ from this machine's gzip's; the tar inside is" \
        "the same"
    fi
  else
    report FAILED "$archive" "is not git archive of $tag"
  fi
fi

# The executable, built from the commit's own export as the release built it.
tar -xf "$work/source.tar" -C "$work"
SOURCE_DATE_EPOCH=$date
export SOURCE_DATE_EPOCH
release_build_windows "$work/$name" "$work/stage" || stop "$tag" "did not build on this machine"
rebuilt=$work/stage/bin/varnholt.exe

# check_executable LABEL FILE: FILE must be the rebuilt executable, with FILE's signature,
# encoded anew, attached where it has one. Returns 1 when it is not.
check_executable() {
  local label=$1 candidate=$2 signature=$work/signature signer
  rm -rf "$signature" && mkdir "$signature"
  if ! osslsigncode extract-signature -pem -in "$candidate" -out "$signature/pem" \
    >/dev/null 2>&1; then
    note "$label" "not signed"
    cmp -s "$candidate" "$rebuilt" ||
      { report FAILED "$label" "differs from the executable built from $tag"; return 1; }
    report OK "$label" "identical to the executable built from $tag"
    return 0
  fi
  openssl pkcs7 -in "$signature/pem" -outform DER -out "$signature/der"
  signer=$(/usr/bin/python3 "$tools/release_signature.py" "$signature/der" \
    "$signature/anew" 2>&1) || { report FAILED "$label" "$signer"; return 1; }
  # Checked against the certificates it carries, and the system's authorities.
  if ! release_signature_chain "$signature/pem" "$signature/chain" ||
    ! osslsigncode verify -CAfile "$signature/chain" -in "$candidate" >/dev/null 2>&1; then
    report FAILED "$label" "its signature does not verify"
    return 1
  fi
  report OK "$label" "its signature verifies"
  # Attached as PEM, which every osslsigncode reads as a signature alone.
  openssl pkcs7 -inform DER -in "$signature/anew" -out "$signature/anew.pem"
  osslsigncode attach-signature -CAfile "$signature/chain" -sigin "$signature/anew.pem" \
    -in "$rebuilt" -out "$signature/attached.exe" >/dev/null 2>&1 || true
  if ! cmp -s "$candidate" "$signature/attached.exe"; then
    report FAILED "$label" "differs from the executable built from $tag with its signature attached"
    return 1
  fi
  report OK "$label" "identical to the executable built from $tag, with its signature attached"
  while IFS= read -r row; do echo "          $row"; done <<<"$signer"
  echo "          Whether to trust this signer is for Windows to say, or the publisher's"
  echo "          own published fingerprint: this check proves only who signed these bytes."
}

checked=
if [[ -f $folder/$exe ]] && check_executable "$exe" "$folder/$exe"; then
  checked=$folder/$exe
fi
if [[ -f $folder/$zip ]]; then
  if [[ ! -f $folder/$exe ]]; then
    # Only the zip was downloaded: its executable is checked as the bare one would be.
    /usr/bin/python3 -m zipfile -e "$folder/$zip" "$work/unzipped" 2>/dev/null || true
    if [[ -f $work/unzipped/varnholt.exe ]] &&
      check_executable "$zip: varnholt.exe" "$work/unzipped/varnholt.exe"; then
      checked=$work/unzipped/varnholt.exe
    fi
  fi
  if [[ -z $checked ]]; then
    report FAILED "$zip" "not compared: its executable did not pass"
  else
    release_zip "$work/expected.zip" "$checked" "$work/stage/share/doc/varnholt"
    if cmp -s "$folder/$zip" "$work/expected.zip"; then
      report OK "$zip" "identical to the zip of that executable and $tag's documents"
    else
      report FAILED "$zip" "differs from the zip of that executable and $tag's documents:" \
        "an entry more or less, or other bytes, order, dates or comment"
    fi
  fi
fi

if ((failures > 0)); then
  echo "tools/verify-release.sh: $failures check(s) failed; do not trust these files"
  exit 1
fi
echo "tools/verify-release.sh: every file is $tag, commit $commit, byte for byte"
