#!/usr/bin/env bash
# Prints the project's version, as CMakeLists.txt gives it, after checking that the newest
# release entry of CHANGELOG.md is for that version.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(varnholt VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
logged=$(awk '/^## \[/ { v = $2; gsub(/[][]/, "", v); if (v != "Unreleased") { print v; exit } }' \
  CHANGELOG.md)
if [[ -z $version || $version != "$logged" ]]; then
  echo "tools/version.sh: CMakeLists.txt gives version '$version', but the newest entry in" \
    "CHANGELOG.md is for '$logged'. Add an entry for the version, or mend the version." >&2
  exit 1
fi
echo "$version"
