#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, where missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ git python3 binutils libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64 wine wine64 python3-pefile
  clang libclang-rt-14-dev clang-tidy clang-format cppcheck
  libbenchmark-dev time
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
fi
