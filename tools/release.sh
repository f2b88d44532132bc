#!/usr/bin/env bash
# Builds the release files from the committed tree alone (a git archive of HEAD, so that
# nothing uncommitted leaks in) and writes them to dist/, or to the folder VARNHOLT_DIST
# names: the source archive, the bare Windows executable built from it, a zip of the
# executable with the licence, the notices and the README, a build-info file naming the
# commit and the toolchain, and SHA256SUMS over the four. Every date inside them is the
# commit's, so any run on the same commit with the same toolchain gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/release-common.sh
dist=${VARNHOLT_DIST:-dist}

if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
  echo "tools/release.sh: uncommitted changes are left out; the release is of HEAD" >&2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git archive --format=tar --prefix=varnholt/ HEAD | tar -xf - -C "$work"
version=$("$work/varnholt/tools/version.sh")
name=varnholt-$version
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH

rm -rf "$dist"
mkdir -p "$dist"
git archive --format=tar --prefix="$name/" HEAD | gzip -n -9 >"$dist/$name.tar.gz"
# The executable is built from the published source archive, as a verifier builds it.
tar -xzf "$dist/$name.tar.gz" -C "$work"
release_build_windows "$work/$name" "$work/stage"
cp "$work/stage/bin/varnholt.exe" "$dist/$name-windows-x86_64.exe"
docs=$work/stage/share/doc/varnholt
/usr/bin/python3 - "$dist/$name-windows-x86_64.zip" "$work/stage/bin/varnholt.exe" \
  "$docs/LICENSE" "$docs/THIRD-PARTY-NOTICES.txt" "$docs/README.md" <<'PYTHON'
import os, sys, time, zipfile

# A zip's dates start in 1980; each entry is a plain file, readable by all.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
with zipfile.ZipFile(sys.argv[1], "w") as archive:
    for path in sys.argv[2:]:
        entry = zipfile.ZipInfo(os.path.basename(path), stamp)
        entry.create_system = 3
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as content:
            archive.writestr(entry, content.read(), compresslevel=9)
PYTHON
{
  echo "Format: 1.0"
  echo "Source: varnholt"
  echo "Version: $version"
  echo "Commit: $commit"
  echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
  echo "Build-Architecture: $(dpkg --print-architecture)"
  echo "Installed-Build-Depends:"
  release_toolchain_versions
} >"$dist/$name.buildinfo"
(cd "$dist" && sha256sum "$name-windows-x86_64.exe" "$name-windows-x86_64.zip" "$name.tar.gz" \
  "$name.buildinfo" >SHA256SUMS)
echo "tools/release.sh: $dist/ holds the release files of $name:"
cat "$dist/SHA256SUMS"
