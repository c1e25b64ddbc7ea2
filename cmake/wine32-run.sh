#!/usr/bin/env bash
# Runs one Windows program under 32-bit Wine for CTest, inside the cached Debian 12 root
# (scripts/wine32-root.sh) entered afresh for this program (scripts/wine32-enter.sh): its own Wine
# prefix copy, wineserver and Xvfb display, all ended with it. As in wine-run.sh, the fresh temporary
# folder travels as SETUP_TEST_TMP, output goes through a file, and a time limit turns a hang into a
# failure.
#
#   wine32-run.sh PROGRAM [ARG]...   the CTest emulator of the 32-bit flavour
#   wine32-run.sh --probe            makes the root if needed and proves that a 32-bit program runs
#
# SETUP_WINE32_SHARE lists (colon-separated) the folders the program reaches through Z:, besides
# its own temporary folder and the current folder.
set -u
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../scripts
limit=${SETUP_TEST_TIMEOUT:-120}

# Inside the root: a display of our own, then the program with its time limit.
session() {
  local cwd=$1 seconds=$2 log=$3; shift 3
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>/tmp/display >/tmp/xvfb.log 2>&1 &
  local xvfb=$!
  while [ ! -s /tmp/display ]; do
    kill -0 $xvfb 2>/dev/null || { cat /tmp/xvfb.log; echo "wine32-run: Xvfb did not start"; exit 125; }
    sleep 0.05
  done
  export DISPLAY=:$(head -n 1 /tmp/display)
  cd "$cwd" || exit 125
  timeout -k 5 "$seconds" /usr/lib/wine/wine64 "$@" >"$log" 2>&1
}

# Emulated 32-bit Wine now and then fails to start a program. Such a run printed nothing of its own
# (every program under test opens with GoogleTest's banner) and did not time out; it alone is
# repeated, once, and says so. A program that started is never run again, whatever its result.
failed_to_start() {
  local rc=$1 log=$2
  [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] && ! grep -q '^\[==========\] Running' "$log"
}

run_program() {
  local cache
  cache=$("$scripts/wine32-root.sh" path) || exit 1
  local root=${SETUP_TEST_TMP_ROOT:-$PWD/wine-tmp}
  mkdir -p "$root"
  local dir
  dir=$(mktemp -d "$root/run.XXXXXX")
  export SETUP_TEST_TMP="Z:$(printf '%s' "$dir" | tr / '\\')"
  local log=$dir.log
  local shares=(--share "$(cd "$here/.." && pwd)" --share "$root" --share "$PWD") share
  IFS=: read -ra extra <<<"${SETUP_WINE32_SHARE:-}"
  for share in "${extra[@]}"; do [ -n "$share" ] && shares+=(--share "$share"); done

  local start=$SECONDS rc attempt
  for attempt in 1 2; do
    local left=$((limit - (SECONDS - start)))
    timeout -s KILL $((left + 10)) "$scripts/wine32-enter.sh" "$cache" "${shares[@]}" -- \
      /bin/bash "$here/wine32-run.sh" --session "$PWD" "$left" "$log" "$@"
    rc=$?
    cat "$log" 2>/dev/null
    [ $attempt -eq 1 ] && failed_to_start $rc "$log" && [ $((limit - (SECONDS - start))) -gt 10 ] || break
    echo "wine32-run: $1 failed to start (exit code $rc, no output of its own); retrying once"
  done
  [ $rc -eq 124 ] && echo "wine32-run: timed out after $limit s: $*"
  exit $rc
}

# A 32-bit builtin of the prefix, run in the root, proves the whole route: namespace, 32-bit code,
# Wine's 32-bit half.
probe() {
  local cache
  cache=$("$scripts/wine32-root.sh" ensure) || exit 1
  local out rc
  out=$("$scripts/wine32-enter.sh" "$cache" -- /bin/sh -c \
    'WINEDEBUG=-all /usr/lib/wine/wine64 "C:\\windows\\syswow64\\cmd.exe" /c exit 18 >/dev/null 2>&1; echo "$? $SETUP_WINE32_ROUTE"' 2>&1)
  rc=$?
  case "$out" in
    "18 "*) echo "wine32: 32-bit programs run ${out#18 }" ;;
    *) echo "wine32: no 32-bit program runs here: ${out:-exit code $rc}"; exit 1 ;;
  esac
}

case "${1:-}" in
  --session) shift; session "$@" ;;
  --probe) probe ;;
  "") echo "usage: $0 PROGRAM [ARG]... | --probe" >&2; exit 2 ;;
  *) run_program "$@" ;;
esac
