# shellcheck shell=bash
# Shared by tools/release.sh, tools/sign-release.sh and tools/verify-release.sh, so that a
# release is checked by building it exactly as it was built. Sourced, not run.

# The Debian packages whose versions decide the bytes of the release files: the compiler
# and its runtime, binutils, the MinGW-w64 headers and C runtime, CMake and Ninja; then
# git, gzip, and Python with zlib, which pack the archives.
release_toolchain_packages=(
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32-runtime
  gcc-mingw-w64-base binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common
  cmake ninja-build git gzip python3.11-minimal libpython3.11-stdlib zlib1g
)
# The documents that the zip holds beside the executable, in the zip's order.
release_documents=(LICENSE THIRD-PARTY-NOTICES.txt README.md)

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

# release_names VERSION: sets the names of the release's files, for the caller.
# shellcheck disable=SC2034
release_names() {
  name=varnholt-$1
  exe=$name-windows-x86_64.exe
  zip=$name-windows-x86_64.zip
  archive=$name.tar.gz
  buildinfo=$name.buildinfo
  release_files=("$exe" "$zip" "$archive" "$buildinfo")
}

# Cross-builds the Windows executable from the unpacked source tree $1 and installs it,
# with its documents, into the folder $2, with no compiler or linker flags from the
# environment. Each step runs only when the one before it succeeded, also where the caller
# tests the result (bash ignores set -e there).
release_build_windows() {
  (
    unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS
    cd "$1" &&
      cmake --preset windows -DBUILD_TESTING=OFF >/dev/null &&
      cmake --build --preset windows >/dev/null &&
      cmake --install build/windows --prefix "$2" >/dev/null
  )
}

# release_zip ZIP EXECUTABLE DOCUMENTS_FOLDER: writes the release zip, dated
# SOURCE_DATE_EPOCH, with the one zip writer.
release_zip() {
  local documents=("${release_documents[@]/#/$3/}")
  /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/release_zip.py" "$1" "$2" "${documents[@]}"
}

# release_signature_chain SIGNATURE CHAIN: writes the certificates that the PEM signature
# SIGNATURE carries, then the system's authorities, to CHAIN, for osslsigncode's -CAfile:
# the signature verifies against them where its chain ends in one of them.
release_signature_chain() {
  openssl pkcs7 -print_certs -in "$1" -out "$2" || return 1
  if [[ -r /etc/ssl/certs/ca-certificates.crt ]]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$2"
  fi
}

# release_recover FOLDER: finishes or undoes a replacement of FOLDER by release_replace
# that was stopped half-way, so that FOLDER holds one whole set of release files.
release_recover() {
  local folder=${1%/}
  rm -rf -- "$folder.release-new"
  if [[ -d $folder.release-ready && ! -e $folder ]]; then
    mv -T -- "$folder.release-ready" "$folder"
  fi
  rm -rf -- "$folder.release-ready"
  if [[ -d $folder.release-old && ! -e $folder ]]; then
    mv -T -- "$folder.release-old" "$folder"
  fi
  rm -rf -- "$folder.release-old"
}

# release_replace FOLDER: puts the whole set of files that the caller made in the folder
# FOLDER.release-new in the place of FOLDER. Each step is a rename; stopped at any point, even
# by a kill, release_recover FOLDER then leaves either the old set or the new one in FOLDER.
release_replace() {
  local folder=${1%/}
  mv -T -- "$folder.release-new" "$folder.release-ready"
  # Interrupting the swap would only leave work for release_recover.
  trap '' INT TERM HUP
  if [[ -e $folder ]]; then
    mv -T -- "$folder" "$folder.release-old"
  fi
  mv -T -- "$folder.release-ready" "$folder"
  trap - INT TERM HUP
  rm -rf -- "$folder.release-old"
}
