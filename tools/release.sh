#!/usr/bin/env bash
# Builds the release files of the commit that the annotated tag v<version> names, which must
# be HEAD, from that commit alone (a git archive, so that nothing uncommitted leaks in), and
# writes them to dist/, or to the folder VARNHOLT_DIST names: the source archive, the bare
# Windows executable built from it, a zip of the executable with the licence, the notices and
# the README, a build-info file naming the commit and the toolchain, and SHA256SUMS over the
# four. Every date inside them is the commit's, so any run on the same commit with the same
# toolchain gives the same bytes. Run it in the repository's top folder.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=release-common.sh
source "$tools/release-common.sh"
dist=${VARNHOLT_DIST:-dist}
dist=${dist%/}

fail() {
  echo "tools/release.sh: $*" >&2
  exit 1
}
[[ $(git rev-parse --show-toplevel 2>/dev/null) -ef . ]] ||
  fail "run it in the top folder of a clone of the repository"
if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
  echo "tools/release.sh: uncommitted changes are left out; the release is of HEAD" >&2
fi
commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git archive --format=tar --prefix=source/ "$commit" | tar -xf - -C "$work"
# The version, once CHANGELOG.md is checked to have an entry for it.
version=$("$work/source/tools/version.sh")
tag=v$version
# Releases are made from a tag, so that anyone can verify one in a clone at that tag.
if [[ $(git cat-file -t "refs/tags/$tag" 2>/dev/null) != tag ]]; then
  fail "no annotated tag $tag: tag HEAD with 'git tag -s $tag -m \"Varnholt $version\"'" \
    "(or -a instead of -s without a signing key), then run this again"
fi
[[ $(git rev-parse "$tag^{commit}") == "$commit" ]] ||
  fail "$tag names $(git rev-parse --short "$tag^{commit}"), not HEAD" \
    "($(git rev-parse --short HEAD)): check out $tag to release it, or move the tag if it" \
    "was never published"

# Never delete a folder this script did not make: only release files are replaced.
release_recover "$dist"
if [[ -e $dist ]]; then
  while IFS= read -r -d '' file; do
    case ${file#"$dist"/} in
      SHA256SUMS | varnholt-*-windows-x86_64.exe | varnholt-*-windows-x86_64.zip | \
        varnholt-*.tar.gz | varnholt-*.buildinfo) ;;
      *) fail "$dist/ holds ${file#"$dist"/}, which is not a release file: name another folder" \
        "with VARNHOLT_DIST, or empty it" ;;
    esac
  done < <(find "$dist" -mindepth 1 -print0)
fi

release_names "$version"
new=$dist.release-new
mkdir -p "$new"
trap 'rm -rf "$work" "$new"' EXIT
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
git archive --format=tar --prefix="$name/" "$commit" | gzip -n -9 >"$new/$archive"
# The executable is built from the tagged commit's export, as a verifier builds it.
mv "$work/source" "$work/$name"
release_build_windows "$work/$name" "$work/stage" || fail "the Windows executable did not build"
cp "$work/stage/bin/varnholt.exe" "$new/$exe"
release_zip "$new/$zip" "$new/$exe" "$work/stage/share/doc/varnholt"
{
  echo "Format: 1.0"
  echo "Source: varnholt"
  echo "Version: $version"
  echo "Commit: $commit"
  echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
  echo "Build-Architecture: $(dpkg --print-architecture)"
  echo "Installed-Build-Depends:"
  release_toolchain_versions
} >"$new/$buildinfo"
(cd "$new" && sha256sum "${release_files[@]}" >SHA256SUMS)
release_replace "$dist"
echo "tools/release.sh: $dist/ holds the release files of $name, tag $tag:"
cat "$dist/SHA256SUMS"
