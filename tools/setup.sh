#!/usr/bin/env bash
# Installs the Debian packages that are missing, without the packages they only recommend:
#   tools/setup.sh            what building and running the tool needs
#   tools/setup.sh --release  what making, signing and verifying the release files needs
#   tools/setup.sh --test     everything: the tool, the release, the tests, the checks, the
#                             benchmarks and the README's picture
set -euo pipefail

# xdg-open hands an address to the desktop's browser.
run=(cmake ninja-build g++ xdg-utils)
# gpg checks a signed tag; python3-asn1crypto reads a signature.
release=(
  cmake ninja-build git gpg python3 python3-asn1crypto g++-mingw-w64-x86-64-win32 osslsigncode
  openssl
)
case "${1:-}" in
  "") packages=("${run[@]}") ;;
  --release) packages=("${release[@]}") ;;
  --test)
    packages=(
      "${run[@]}" "${release[@]}" binutils libgtest-dev libgmock-dev wine wine64 python3-pefile
      clang libclang-rt-14-dev clang-tidy clang-format cppcheck shellcheck libbenchmark-dev time
      gpg-agent ansifilter pango1.0-tools fonts-dejavu-core
    )
    ;;
  *)
    echo "usage: tools/setup.sh [--release | --test]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  # Through env, since sudo resets the environment: no package stops to ask a question.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
