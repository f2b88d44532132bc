#!/usr/bin/env bash
# Installs the Debian packages that are missing, without the packages they only recommend:
# with no argument, what building and running the tool needs; with --release, also what
# making, signing and verifying the release files needs; with --test, also everything that
# the tests, the checks and the benchmarks need.
set -euo pipefail

# xdg-open hands an address to the desktop's browser.
packages=(cmake ninja-build g++ xdg-utils)
release=(git python3 g++-mingw-w64-x86-64-win32 osslsigncode openssl)
case "${1:-}" in
  "") ;;
  --release) packages+=("${release[@]}") ;;
  --test)
    packages+=(
      "${release[@]}" binutils libgtest-dev libgmock-dev wine wine64 python3-pefile
      clang libclang-rt-14-dev clang-tidy clang-format cppcheck libbenchmark-dev time
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
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
