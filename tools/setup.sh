#!/usr/bin/env bash
# Installs the Debian packages that are missing: with no argument, what building and running
# the tool needs; with --test, also everything that the tests, the checks, the Windows
# cross-build, the benchmarks and the release need.
set -euo pipefail

# xdg-open hands an address to the desktop's browser.
packages=(cmake ninja-build g++ xdg-utils)
case "${1:-}" in
  "") ;;
  --test)
    packages+=(
      git python3 binutils libgtest-dev libgmock-dev
      g++-mingw-w64-x86-64-win32 wine wine64 python3-pefile osslsigncode openssl
      clang libclang-rt-14-dev clang-tidy clang-format cppcheck
      libbenchmark-dev time
    )
    ;;
  *)
    echo "usage: tools/setup.sh [--test]" >&2
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
