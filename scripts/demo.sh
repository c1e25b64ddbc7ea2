#!/usr/bin/env bash
# The main job: packs the demo folder (nested folders, a file with spaces in its name, a launch
# program of ours) into a setup program with mksetup, runs it under Wine the way a user would, and
# shows what it did. Saves a picture of the dialog as build/demo/setup-dialog.png; the picture in
# docs/ is the one the README shows, refreshed by hand when the dialog changes.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
root=$PWD
demo=$root/build/demo

# build DIR "TARGET..." CMAKE-ARGUMENT...
build() {
  local dir=$1 targets=$2; shift 2
  mkdir -p "$dir"
  # shellcheck disable=SC2086 # the targets are separate words
  cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 && cmake --build "$dir" -j "$jobs" --target $targets \
    >"$dir.build.log" 2>&1 || { tail -n 40 "$dir.configure.log" "$dir.build.log"; exit 1; }
}

echo "Building mksetup (native) and the 64-bit setup stub with the demo programs..."
build build/native mksetup -DCMAKE_BUILD_TYPE=RelWithDebInfo
build build/win64 "setup_stub demo_welcome demo_runner" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The folder to pack: the demo's files with a fixed recorded time, so the run shows that the times
# come back exactly, and the launch program.
rm -rf "$demo"
mkdir -p "$demo/folder" "$demo/tmp"
cp -r demo/payload/. "$demo/folder/"
cp build/win64/demo/welcome.exe "$demo/folder/welcome.exe"
find "$demo/folder" -type f -exec touch -d '2026-05-04 03:02:01.1234567 UTC' {} +

echo
echo "\$ mksetup pack folder -o demo-setup.exe --launch welcome.exe --stub <64-bit stub>"
build/native/tools/mksetup pack "$demo/folder" -o "$demo/demo-setup.exe" --launch welcome.exe \
  --stub build/win64/src/shell/setup.exe
build/native/tools/mksetup list "$demo/demo-setup.exe"

echo
echo "Running demo-setup.exe under Wine with TMP=$demo/tmp ..."
export WINEPREFIX=$root/build/win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
log=$demo/run.log
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  cmake/wine-prefix.sh start &&
  /usr/lib/wine/wine64 explorer /desktop=demo,800x600 build/win64/demo/runner.exe "$1" "$2" "$3" >"$4" 2>&1; rc=$?
  cmake/wine-prefix.sh stop; exit $rc' demo "$(winpath "$demo/demo-setup.exe")" "$(winpath "$demo/tmp")" \
  "$(winpath "$demo/setup-dialog.bmp")" "$log" || { cat "$log"; echo "demo: the run did not go as expected"; exit 1; }
tr -d '\r' <"$log"
echo "(Wine on Linux keeps no creation time of its own; for an unpacked file it reports the last-write time.)"

convert "$demo/setup-dialog.bmp" "$demo/setup-dialog.png"
echo
echo "Picture of the dialog: build/demo/setup-dialog.png"
