#!/usr/bin/env bash
# Finds by bisection the largest merge data file that the setup program unpacks under Wine: the
# worker holds the whole file in one block next to the payload mapped with the program, so a
# 32-bit process runs out of address space first. Each trial links a setup program around one
# file of zeros (scripts/memory-ceiling), runs it in the 32-bit Wine root (scripts/wine32-root.sh)
# and checks the unpacked file's size; the exit code is 18 either way. Not part of the tests: it
# takes some minutes and about three times the largest size in memory.
#
#   wine32-memory-ceiling.sh [--stored] [--twin] [LOW HIGH STEP]   sizes in MiB (default 64 2048 8)
#
# --stored writes the payload in stored blocks, so the mapped stream is as large as the data
# (by default it is tiny); --twin measures the 64-bit twin in the same root instead.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)

# Inside the root: one run of the program, then what it left in the temporary folder. A message
# box (which Wine's msgbox trace names) ends the run: the program would wait for its OK.
trial() {
  local program=$1 size=$2
  export WINEDEBUG=-all,trace+msgbox WINEDLLOVERRIDES="mscoree,mshtml="
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>/tmp/display >/tmp/xvfb.log 2>&1 &
  while [ ! -s /tmp/display ]; do sleep 0.05; done
  export DISPLAY=:$(head -n 1 /tmp/display)
  /usr/lib/wine/wine64 "$program" >/tmp/program.log 2>&1 &
  local pid=$! box= waited=0
  while kill -0 $pid 2>/dev/null && [ $waited -lt 1200 ]; do
    box=$(sed -n 's/.*MSGBOX_OnInit L"\(.*\)"$/\1/p' /tmp/program.log)
    [ -n "$box" ] && break
    sleep 0.5
    waited=$((waited + 1))
  done
  /usr/lib/wine/wineserver -k
  wait $pid
  local rc=$? unpacked
  unpacked=$(find /root/.wine/drive_c/users -name zeros.bin -printf '%s\n' | head -n 1)
  if [ -n "$box" ]; then echo "box \"$box\", unpacked ${unpacked:-nothing}"; else echo "exit code $rc, unpacked ${unpacked:-nothing}"; fi
  [ "${unpacked:-}" = "$size" ]
}

if [ "${1:-}" = --trial ]; then
  shift
  trial "$@"
  exit
fi

level=9 flavour=i686 wine_flavour="the shipped 32-bit program"
while [ $# -gt 0 ]; do
  case "$1" in
    --stored) level=0; shift ;;
    --twin) flavour=x86_64 wine_flavour="the 64-bit twin"; shift ;;
    *) break ;;
  esac
done
low=${1:-64} high=${2:-2048} step=${3:-8}

cache=$("$repo/scripts/wine32-root.sh" ensure) || exit 1
build=$repo/build/memory-ceiling-$flavour
payload=$build/payload.zlib
mkdir -p "$build"
python3 "$here/memory-ceiling/zero_payload.py" "$payload" 1 "$level" || exit 1
cmake -S "$here/memory-ceiling" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-$flavour.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DCEILING_PAYLOAD="$payload" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }

# Succeeds when a program around SIZE MiB of zeros unpacks them all.
unpacks() {
  local bytes=$(($1 * 1048576))
  python3 "$here/memory-ceiling/zero_payload.py" "$payload" "$bytes" "$level" &&
    cmake --build "$build" --target ceiling_setup >"$build.build.log" 2>&1 ||
    { cat "$build.build.log"; echo "wine32-memory-ceiling: building the trial program failed"; exit 1; }
  local result
  result=$("$repo/scripts/wine32-enter.sh" "$cache" --share "$repo" -- \
    /bin/bash "$here/wine32-memory-ceiling.sh" --trial "$build/ceiling_setup.exe" "$bytes")
  local rc=$?
  printf '%6d MiB (stream %d bytes): %s\n' "$1" "$(stat -c %s "$payload")" "$result"
  return $rc
}

echo "memory ceiling of $wine_flavour, a file of zeros, payload level $level, ${step} MiB steps"
unpacks "$low" || { echo "even $low MiB is not unpacked; start lower"; exit 1; }
if unpacks "$high"; then
  echo "$high MiB is unpacked too; the ceiling lies higher"
  exit 0
fi
while [ $((high - low)) -gt "$step" ]; do
  middle=$(((low + high) / 2 / step * step))
  [ "$middle" -le "$low" ] && middle=$((low + step))
  if unpacks "$middle"; then low=$middle; else high=$middle; fi
done
echo "largest unpacked: $low MiB ($((low * 1048576)) bytes); $high MiB is not unpacked"
