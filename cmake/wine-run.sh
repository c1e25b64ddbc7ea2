#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine for CTest. Wine takes TMP and TEMP from its own
# registry, not from Linux, so the fresh temporary folder of this run travels as SETUP_TEST_TMP and
# the program's test main puts it into TMP and TEMP. Output goes through a file because Wine's
# background processes would keep a pipe open; the time limit turns a hang into a failure.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build tree}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
root=${SETUP_TEST_TMP_ROOT:-$(dirname "$WINEPREFIX")/wine-tmp}
mkdir -p "$root"
dir=$(mktemp -d "$root/run.XXXXXX")
export SETUP_TEST_TMP="Z:$(printf '%s' "$dir" | tr / '\\')"
log="$dir.log"
timeout -k 5 "${SETUP_TEST_TIMEOUT:-120}" /usr/lib/wine/wine64 "$@" >"$log" 2>&1
rc=$?
cat "$log"
[ $rc -eq 124 ] && echo "wine-run: timed out after ${SETUP_TEST_TIMEOUT:-120} s: $*"
exit $rc
