#!/usr/bin/env bash
# Builds the fuzz targets as libFuzzer programs with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, coverage over our own libraries) in build/fuzz, and fuzzes each target, or the one
# named, for the given number of seconds, one after another in one process each. The seeds come from
# fuzz/corpus/<target> and fuzz/regressions/<target>; new inputs go to build/fuzz/corpus/<target>
# and crashes to build/fuzz/findings/<target>, never into the repository.
# Usage: scripts/fuzz.sh [TARGET] [SECONDS]   (default: every target, 60 seconds each)
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh || exit 1

build=${SETUP_FUZZ_BUILD:-$root/build/fuzz}
targets=(merge_file inflate pe_image mksetup_payload names code_pages round_trip)
seconds=60
if [ $# -ge 1 ]; then
  if [[ $1 =~ ^[0-9]+$ ]]; then seconds=$1
  else targets=("$1"); seconds=${2:-$seconds}; fi
fi
for target in "${targets[@]}"; do
  [ -d "fuzz/corpus/$target" ] || { echo "fuzz.sh: no target \"$target\" (see fuzz/corpus)" >&2; exit 2; }
done

mkdir -p "$build"
echo "== building the libFuzzer targets in $build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSETUP_LIBFUZZER=ON -DSETUP_TESTS=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >"$build/configure.log" 2>&1 &&
  cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1 ||
  { tail -n 60 "$build/configure.log" "$build/build.log"; echo "fuzz.sh: the build failed"; exit 1; }

status=0
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/$target.log
  mkdir -p "$corpus" "$findings"
  started=$build/$target.started
  touch "$started"
  seeds=("fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
  # Longer inputs only repeat what these lengths reach already: a name field, a few 4096-byte blocks
  # of the inflater, a stub of a few sections, a data file of a dozen entries, a folder of a dozen
  # small files.
  case $target in
    names) max_len=260 ;;
    round_trip) max_len=2048 ;;
    code_pages) max_len=1024 ;;
    inflate | merge_file) max_len=4096 ;;
    *) max_len=8192 ;;
  esac
  echo "== fuzzing $target for ${seconds}s, inputs up to $max_len bytes (log: $log)"
  # The first folder takes the new inputs; the seed folders are only read.
  # Allocation call stacks cost the allocating targets half their speed and matter only when a
  # finding is replayed, which runs with the defaults.
  ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=0} "$build/fuzz/fuzz_$target" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -max_len="$max_len" \
    -print_final_stats=1 -artifact_prefix="$findings/" -rss_limit_mb=2048 -timeout=10 >"$log" 2>&1
  rc=$?
  grep -E '^#[0-9]+.*(DONE|INITED)' "$log" | tail -n 2
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n 1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  units=$(find "$corpus" -type f | wc -l)
  crashes=$(find "$findings" -type f -newer "$started" | wc -l)
  if [ $rc -ne 0 ] || [ "$crashes" -ne 0 ]; then
    status=1
    grep -E 'ERROR: |fuzz check failed|SUMMARY:|Test unit written' "$log" | head -n 10
  fi
  summary+=("$target: ${execs:-?} execs, ${rate:-?} execs/s, ${cov:-cov ?}, $units units in $corpus, $crashes findings")
done

echo
printf '%s\n' "${summary[@]}"
[ $status -eq 0 ] || echo "fuzz.sh: findings are in $build/findings; add each as a regression input in fuzz/regressions/<target>/"
exit $status
