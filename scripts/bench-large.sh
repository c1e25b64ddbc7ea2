#!/usr/bin/env bash
# Benchmarks `mksetup payload` on a generated tree of about 1 GiB (half seeded random bytes, half
# text) against pigz -9 and one zlib level-9 stream over the same bytes (the data file that the
# packer builds from the tree: header, entry table, then every file's contents), in interleaved
# rounds, with every command's wall time, CPU time and peak resident memory. Then runs `mksetup list`,
# `verify` and `extract` once each on the packer's output. Prints a table of medians and ratios and
# writes it to <root>/RESULTS.md.
#
# Environment: BENCH_LARGE_MIB (size of the tree, default 1024), BENCH_LARGE_ROUNDS (rounds of the
# three packers, default 3), BENCH_LARGE_THREADS (threads of mksetup and pigz, default 2),
# BENCH_LARGE_SEED (default 20240601), BENCH_LARGE_ROOT (tree, outputs and logs; default
# build/bench-large). The native Release tree is build/bench-large-release.
set -eu
cd "$(dirname "$0")/.."
mib=${BENCH_LARGE_MIB:-1024}
rounds=${BENCH_LARGE_ROUNDS:-3}
threads=${BENCH_LARGE_THREADS:-2}
seed=${BENCH_LARGE_SEED:-20240601}
root=${BENCH_LARGE_ROOT:-build/bench-large}
native=build/bench-large-release
mksetup=$native/tools/mksetup
tree=$root/tree
merge_file=$root/merge.bin
logs=$root/logs
samples=$root/samples.txt

step() { echo "bench-large.sh: $*" >&2; }
fail() { echo "bench-large.sh: $*" >&2; exit 1; }

for value in "$mib" "$rounds" "$threads"; do
  case $value in '' | *[!0-9]* | 0*) fail "BENCH_LARGE_MIB, _ROUNDS and _THREADS must be positive whole numbers";; esac
done
[ "$mib" -lt 4096 ] || fail "BENCH_LARGE_MIB must be below 4096: a payload holds less than 4 GiB"

# The tree, its data file, three outputs (or one output and its extraction) at once: about 4x
# the tree. What the root already holds is reused or replaced, so it counts as free.
mkdir -p "$root"
free_mib=$(df -Pm "$root" | awk 'NR == 2 {print $4}')
held_mib=$(du -sm "$root" | cut -f1)
if [ $((free_mib + held_mib)) -lt $((4 * mib)) ]; then
  fail "$root: needs $((4 * mib)) MiB free for a $mib MiB tree, has $((free_mib + held_mib)) MiB; free space or lower BENCH_LARGE_MIB"
fi

if ! command -v pigz >/dev/null || [ ! -x /usr/bin/time ]; then
  step "installing pigz and time"
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update >/dev/null
  $sudo apt-get install -y pigz time >/dev/null
fi

step "building mksetup in the native Release tree $native"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF \
  >"$native.configure.log" 2>&1 || { tail -n 40 "$native.configure.log"; exit 1; }
nice cmake --build "$native" --target mksetup -j2 >"$native.build.log" 2>&1 ||
  { tail -n 40 "$native.build.log"; exit 1; }

# The tree depends only on the seed, the size and the generator, so an unchanged triple is kept.
stamp="$seed $mib $(md5sum <bench/large_tree.py)"
if [ "$(cat "$root/tree.stamp" 2>/dev/null)" != "$stamp" ] || [ ! -d "$tree" ]; then
  step "generating the $mib MiB tree from seed $seed"
  rm -rf "$tree" "$root/tree.stamp"
  python3 bench/large_tree.py "$seed" "$mib" "$tree" >"$root/tree.txt"
  echo "$stamp" >"$root/tree.stamp"
fi
tree_bytes=$(find "$tree" -type f -printf '%s\n' | awk '{n += $1} END {printf "%d", n}')

# pigz and zlib get exactly the bytes that the packer compresses: its data file, expanded from one
# untimed packing, which also brings the tree into the page cache for every side alike.
step "packing once for the data file that all three compress"
"$mksetup" payload "$tree" -o "$root/out.mksetup" --threads "$threads" >/dev/null
pigz -d -z <"$root/out.mksetup" >"$merge_file"

rm -rf "$logs"
mkdir -p "$logs"
: >"$samples"

# Runs one command under /usr/bin/time with the given stdin and stdout and appends
# "NAME ROUND wall user sys peak-KiB" to the samples. A failing command ends the benchmark with its
# messages: a time of a failed run means nothing.
timed() {
  local name=$1 round=$2 input=$3 output=$4
  shift 4
  if ! /usr/bin/time -f '%e %U %S %M' -o "$logs/$name.time" "$@" <"$input" >"$output" 2>"$logs/$name.err"; then
    cat "$logs/$name.err" "$logs/$name.time" >&2
    fail "$name failed: $*"
  fi
  echo "$name $round $(cat "$logs/$name.time")" >>"$samples"
}

run_side() {
  case $1 in
    mksetup) timed mksetup "$2" /dev/null "$logs/mksetup.out" \
      "$mksetup" payload "$tree" -o "$root/out.mksetup" --threads "$threads";;
    pigz) timed pigz "$2" "$merge_file" "$root/out.pigz" pigz -9 -z -p "$threads";;
    zlib9) timed zlib9 "$2" /dev/null "$logs/zlib9.out" python3 bench/zlib_level9.py "$merge_file" "$root/out.zlib9";;
  esac
}

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
step "measuring $rounds rounds on $tree_bytes bytes (load: $load_start)"
sides=(mksetup pigz zlib9)
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < 3; i++)); do
    run_side "${sides[(round + i) % 3]}" "$round"
  done
done
size_mksetup=$(stat -c %s "$root/out.mksetup")
size_pigz=$(stat -c %s "$root/out.pigz")
size_zlib9=$(stat -c %s "$root/out.zlib9")

# The yardsticks' outputs must be zlib streams of exactly the input; the packer's is checked by
# its own verify and extract below.
step "checking the outputs"
pigz -d -z <"$root/out.pigz" | cmp -s - "$merge_file" || fail "$root/out.pigz: does not inflate to $merge_file"
pigz -d -z <"$root/out.zlib9" | cmp -s - "$merge_file" || fail "$root/out.zlib9: does not inflate to $merge_file"
rm -f "$root/out.pigz" "$root/out.zlib9" "$merge_file"

step "list, verify and extract"
timed list 0 /dev/null "$logs/list.out" "$mksetup" list "$root/out.mksetup"
timed verify 0 /dev/null "$logs/verify.out" "$mksetup" verify "$root/out.mksetup"
rm -rf "$root/extract"
timed extract 0 /dev/null "$logs/extract.out" "$mksetup" extract "$root/out.mksetup" -C "$root/extract"
diff -rq "$tree" "$root/extract" >&2 || fail "$root/extract: differs from $tree"
rm -rf "$root/extract"
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g | awk '{v[NR] = $1} END {printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
wall() { awk -v n="$1" '$1 == n {print $3}' "$samples" | median; }
cpu() { awk -v n="$1" '$1 == n {print $4 + $5}' "$samples" | median; }
peak_mib() { awk -v n="$1" '$1 == n && $6 > m {m = $6} END {printf "%.1f", m / 1024}' "$samples"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%+.3f %%", (a - b) * 100 / b}'; }

table=$root/RESULTS.md
{
  echo "# Large packer benchmark"
  echo
  echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'), seed $seed: $(cat "$root/tree.txt")."
  echo "Rounds: $rounds; threads: $threads; nproc: $(nproc)."
  echo "Load average (1, 5, 15 min) at start: $load_start; at end: $load_end."
  echo
  echo "| packer | median wall s | median CPU s | output bytes | peak RSS MiB |"
  echo "|---|---|---|---|---|"
  echo "| mksetup payload --threads $threads | $(wall mksetup) | $(cpu mksetup) | $size_mksetup | $(peak_mib mksetup) |"
  echo "| pigz -9 -z -p $threads | $(wall pigz) | $(cpu pigz) | $size_pigz | $(peak_mib pigz) |"
  echo "| zlib level 9, one stream | $(wall zlib9) | $(cpu zlib9) | $size_zlib9 | $(peak_mib zlib9) |"
  echo
  echo "| mksetup against | wall | CPU | output size |"
  echo "|---|---|---|---|"
  echo "| pigz | $(ratio "$(wall mksetup)" "$(wall pigz)") | $(ratio "$(cpu mksetup)" "$(cpu pigz)") | $(percent "$size_mksetup" "$size_pigz") |"
  echo "| zlib level 9 | $(ratio "$(wall mksetup)" "$(wall zlib9)") | $(ratio "$(cpu mksetup)" "$(cpu zlib9)") | $(percent "$size_mksetup" "$size_zlib9") |"
  echo
  echo "| on the output, once | wall s | peak RSS MiB |"
  echo "|---|---|---|"
  for name in list verify extract; do
    echo "| mksetup $name | $(wall "$name") | $(peak_mib "$name") |"
  done
  echo
  echo "Samples (name, round, wall s, user s, sys s, peak KiB):"
  echo
  sed 's/^/    /' "$samples"
} >"$table"
cat "$table"
