# Shared by tools/release.sh and tools/verify-release.sh, so that a release is checked by
# building it exactly as it was built. Sourced, not run.

# The Debian packages whose versions decide the bytes of the release files: the compiler
# and its runtime, binutils, the MinGW-w64 headers and C runtime, CMake and Ninja; then
# git, gzip, and Python with zlib, which pack the archives.
release_toolchain_packages=(
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32-runtime
  gcc-mingw-w64-base binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common
  cmake ninja-build git gzip python3.11-minimal libpython3.11-stdlib zlib1g
)

# Prints one line for each of those packages, as a Debian .buildinfo lists them:
# " name (= version)", or " name (not installed)".
release_toolchain_versions() {
  local package version
  for package in "${release_toolchain_packages[@]}"; do
    # The build machine's own architecture, where a library is installed for several.
    version=$({ dpkg-query -W -f='${db:Status-Abbrev}${Version}\n' "$package:amd64" "$package" \
      2>/dev/null || true; } | sed -n 's/^ii *//p' | head -n 1)
    echo " $package (${version:+= }${version:-not installed})"
  done
}

# Cross-builds the Windows executable from the unpacked source tree $1 and installs it,
# with its documents, into the folder $2.
release_build_windows() {
  (
    cd "$1"
    cmake --preset windows -DBUILD_TESTING=OFF >/dev/null
    cmake --build --preset windows >/dev/null
    cmake --install build/windows --prefix "$2" >/dev/null
  )
}
