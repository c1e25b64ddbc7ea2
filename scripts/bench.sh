#!/usr/bin/env bash
# Benchmarks the setup program and the packer on one seeded payload, in one run: the file inflater
# against zlib, the 64-bit setup program under Wine against the same file work done natively, its
# peak memory, and `mksetup payload` against one zlib level-9 deflate. Prints the table of ratios
# with a description of the machine and writes both to <build root>/bench/RESULTS.md.
#
# Environment: SETUP_BENCH_BUILD_ROOT (default build; the native Release tree is <root>/bench, the
# stub comes from <root>/win64), SETUP_BENCH_SEED, SETUP_BENCH_REPS (rounds per comparison, default
# 5), SETUP_BENCH_LONG_REPS (rounds of the 1,000-entry setup run, which waits 100.8 s in polls by
# design; default 3).
set -eu
cd "$(dirname "$0")/.."
root=${SETUP_BENCH_BUILD_ROOT:-build}
seed=${SETUP_BENCH_SEED:-20240601}
reps=${SETUP_BENCH_REPS:-5}
long_reps=${SETUP_BENCH_LONG_REPS:-3}
native=$root/bench
win64=$root/win64
data=$native/run
jobs=$(nproc)

export WINEPREFIX=$(realpath -m "$native/wineprefix") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# The measuring part runs inside one Xvfb display, with one Wine server kept alive for all runs so
# that no run pays for the server's start.
if [ "${1:-}" = "--measure" ]; then
  "$wineserver" -p >>"$native/wineserver.log" 2>&1 </dev/null
  trap '"$wineserver" -k >>"$native/wineserver.log" 2>&1 || true' EXIT
  "$native/bench/bench_run" --data "$(realpath "$data")" --bin "$(realpath "$native/bin")" \
    --launcher "$(realpath "$win64/bench/bench_launcher.exe")" --wine "$wine" \
    --reps "$reps" --long-reps "$long_reps"
  exit
fi

step() { echo "bench.sh: $*" >&2; }

scripts/install-deps.sh
mkdir -p "$root"

step "building the native Release tree $native"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF -DSETUP_BENCH=ON \
  >"$native.configure.log" 2>&1 ||
  { tail -n 40 "$native.configure.log"; exit 1; }
cmake --build "$native" -j "$jobs" --target bench_make_payload bench_native_floor bench_zlib9 bench_run mksetup \
  >"$native.build.log" 2>&1 || { tail -n 40 "$native.build.log"; exit 1; }
mkdir -p "$native/bin"
cp "$native/tools/mksetup" "$native/bench/bench_native_floor" "$native/bench/bench_zlib9" "$native/bin/"

step "building the 64-bit Windows stub and the launcher in $win64"
if [ ! -f "$win64/CMakeCache.txt" ]; then
  cmake -S . -B "$win64" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSETUP_BENCH=ON >"$win64.configure.log" 2>&1 || { tail -n 40 "$win64.configure.log"; exit 1; }
elif ! grep -q '^SETUP_BENCH:BOOL=ON' "$win64/CMakeCache.txt"; then
  cmake "$win64" -DSETUP_BENCH=ON >"$win64.configure.log" 2>&1 || { tail -n 40 "$win64.configure.log"; exit 1; }
fi
cmake --build "$win64" -j "$jobs" --target setup_stub bench_launcher >"$win64.build.log" 2>&1 ||
  { tail -n 40 "$win64.build.log"; exit 1; }

# The payload depends only on the seed and the generator, so an unchanged pair is not made again.
stamp="$seed $(md5sum <"$native/bench/bench_make_payload")"
if [ "$(cat "$data/payload/stamp" 2>/dev/null)" != "$stamp" ]; then
  step "generating the payload from seed $seed"
  rm -rf "$data/payload"
  mkdir -p "$data/payload"
  "$native/bench/bench_make_payload" "$seed" "$data/payload" | tee "$data/payload/sizes.txt" >&2
  echo "$stamp" >"$data/payload/stamp"
fi

step "packing the three shapes with mksetup"
for n in 1 8 1000; do
  mkdir -p "$data/packed/entries-$n"
  "$native/bin/mksetup" pack "$data/payload/entries-$n/files" -o "$data/packed/entries-$n/setup.exe" \
    --stub "$win64/src/shell/setup.exe" >"$data/packed/entries-$n/pack.log" 2>&1 ||
    { cat "$data/packed/entries-$n/pack.log"; exit 1; }
  "$native/bin/mksetup" payload "$data/payload/entries-$n/files" -o "$data/packed/entries-$n/stream.zlib" \
    >"$data/packed/entries-$n/payload.log" 2>&1 || { cat "$data/packed/entries-$n/payload.log"; exit 1; }
done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >"$native/wineboot.log" 2>&1
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$native/wineboot.log" 2>&1
  "$wineserver" -w
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
step "measuring (load before: $load_before)"
table=$native/table.md
if ! xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --measure >"$table" 2>"$native/measure.log"; then
  cat "$native/measure.log" "$table" >&2
  exit 1
fi

{
  echo "# Benchmark results"
  echo
  echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'), seed $seed, $reps rounds per comparison ($long_reps for the"
  echo "1,000-entry setup run)."
  echo
  echo "- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"
  echo "  $(free -g | awk '/^Mem:/ {print $2}') GiB memory, Linux $(uname -r), $("$wine" --version 2>/dev/null)"
  echo "- Load average (1, 5, 15 min) before measuring: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "- Payload (bench_make_payload, level-9 zlib):"
  sed 's/^/  - /' "$data/payload/sizes.txt"
  echo
  cat "$table"
} >"$native/RESULTS.md"
cat "$native/RESULTS.md"
