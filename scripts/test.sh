#!/usr/bin/env bash
# Builds every flavour and runs every test: the native one under AddressSanitizer and
# UndefinedBehaviorSanitizer, the 64-bit Windows one under wine64 in one Xvfb display, and the
# shipped 32-bit program, which is inspected. A second run rebuilds only what changed.
set -u
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1
jobs=$(nproc)
status=0 passed=0 failed=0

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 &&
    cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 ||
    { cat "$dir.configure.log" "$dir.build.log" 2>/dev/null | tail -n 60; echo "test.sh: building $dir failed"; return 1; }
}

run_ctest() {
  local dir=$1; shift
  local log=$dir.ctest.log
  "$@" ctest --test-dir "$dir" --output-on-failure -j "$jobs" >"$log" 2>&1
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

mkdir -p build
echo "== native (ASan, UBSan)"
if build build/native; then run_ctest build/native || status=1; else status=1; fi
echo "== 64-bit Windows under Wine"
if build build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake; then
  run_ctest build/win64 xvfb-run -a -s "-screen 0 1280x1024x24" || status=1
else status=1; fi
echo "== shipped 32-bit Windows"
if build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel; then
  if [ -f build/win32/CTestTestfile.cmake ]; then run_ctest build/win32 || status=1; fi
else status=1; fi

echo
echo "all flavours: $passed passed, $failed failed"
[ $status -eq 0 ] && [ $failed -eq 0 ]
