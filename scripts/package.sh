#!/usr/bin/env bash
# Makes the Debian package of the packer, BUILD/package/mksetup_VERSION_amd64.deb (BUILD is build/
# unless named): mksetup built natively as a release without sanitizers, with the shipped 32-bit
# stub of BUILD/win32 and the 64-bit twin of BUILD/win64, each built first as scripts/test.sh
# builds it. Prints the package's path last.
# Usage: scripts/package.sh [BUILD]
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
mkdir -p "${1:-build}"
build_root=$(realpath "${1:-build}")

# build DIR TARGET CMAKE-ARGUMENT...; a Windows tree that exists keeps how it was configured.
build() {
  local dir=$1 target=$2; shift 2
  if [ ! -f "$dir/CMakeCache.txt" ] || [ "$dir" = "$build_root/package" ]; then
    cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { tail -n 40 "$dir.configure.log"; exit 1; }
  fi
  cmake --build "$dir" -j "$jobs" --target "$target" >"$dir.build.log" 2>&1 || { tail -n 40 "$dir.build.log"; exit 1; }
}

build "$build_root/win32" setup_stub -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
build "$build_root/win64" setup_stub -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The installed packer finds its stubs relative to itself, so it carries no path of this machine.
build "$build_root/package" mksetup -DCMAKE_BUILD_TYPE=Release -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF \
  -DMKSETUP_BUILD_TREE_STUB= -DMKSETUP_STUB_32="$build_root/win32/src/shell/setup.exe" \
  -DMKSETUP_STUB_64="$build_root/win64/src/shell/setup.exe"

rm -f "$build_root"/package/mksetup_*.deb
(cd "$build_root/package" && cpack -G DEB) >"$build_root/package.cpack.log" 2>&1 ||
  { tail -n 40 "$build_root/package.cpack.log"; exit 1; }
ls "$build_root"/package/mksetup_*.deb
