#!/usr/bin/env bash
# Builds every flavour and runs every test: the native one under AddressSanitizer and
# UndefinedBehaviorSanitizer, the 64-bit Windows one under wine64 in one Xvfb display, and the
# shipped 32-bit one, inspected and run under 32-bit Wine (cmake/wine32-run.sh; where no route runs
# 32-bit code those runs are skipped and said so, never counted as passed). A second run rebuilds
# only what changed.
set -u
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1
jobs=$(nproc)
status=0 passed=0 failed=0 skipped=0

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 &&
    cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 ||
    { cat "$dir.configure.log" "$dir.build.log" 2>/dev/null | tail -n 60; echo "test.sh: building $dir failed"; return 1; }
}

# run_ctest DIR [WRAPPER...] [-- CTEST-ARGUMENT...]
run_ctest() {
  local dir=$1; shift
  local wrapper=() args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do wrapper+=("$1"); shift; done
  [ $# -gt 0 ] && shift && args=("$@")
  local log=$dir.ctest.log
  "${wrapper[@]}" ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${args[@]}" >"$log" 2>&1
  local rc=$?
  cat "$log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    local total bad
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
  return $rc
}

# The 32-bit runs need a route (scripts/wine32-root.sh makes its root once); without one they are
# skipped loudly and only the inspection of the shipped files runs.
run_win32() {
  local dir=$1 route
  if route=$(cmake/wine32-run.sh --probe 2>&1); then
    echo "$route"
    run_ctest "$dir"
    return
  fi
  local count
  count=$(ctest --test-dir "$dir" -N -L wine | sed -n -E 's/^Total Tests: ([0-9]+)/\1/p')
  skipped=$((skipped + count))
  echo "$route"
  echo "!! SKIPPED: $count tests of the shipped 32-bit program under 32-bit Wine; no route runs 32-bit code here"
  run_ctest "$dir" -- -LE wine
}

mkdir -p build
# Every flavour is built before any is tested: the install, package and signing tests take the
# packer and the stubs of the other trees.
echo "== building every flavour"
native=0 win64=0 win32=0
build build/native && native=1
build build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake && win64=1
build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel && win32=1
[ $native = 1 ] && [ $win64 = 1 ] && [ $win32 = 1 ] || status=1

echo "== native (ASan, UBSan)"
if [ $native = 1 ]; then run_ctest build/native || status=1; fi
echo "== 64-bit Windows under Wine"
if [ $win64 = 1 ]; then run_ctest build/win64 xvfb-run -a -s "-screen 0 1280x1024x24" || status=1; fi
echo "== shipped 32-bit Windows, inspected and under 32-bit Wine"
if [ $win32 = 1 ]; then run_win32 build/win32 || status=1; fi

echo
if [ $skipped -gt 0 ]; then
  echo "all flavours: $passed passed, $failed failed, $skipped skipped"
else
  echo "all flavours: $passed passed, $failed failed"
fi
[ $status -eq 0 ] && [ $failed -eq 0 ]
