#!/usr/bin/env bash
# Regenerates the seed corpus in fuzz/corpus: builds the corpus maker in the native build tree,
# links the tiny seed stubs with both mingw compilers (with and without resources, stripped and
# with their COFF symbols), and lets the maker write every target's seeds.
# Usage: fuzz/make_corpus.sh [BUILD_DIR]   (default build/native)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/native}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_corpus_maker -j2 >/dev/null

stubs=()
for bits in 32 64; do
  if [ $bits = 32 ]; then cc=i686-w64-mingw32-gcc rc=i686-w64-mingw32-windres entry=_entry
  else cc=x86_64-w64-mingw32-gcc rc=x86_64-w64-mingw32-windres entry=entry; fi
  "$rc" -O coff -i fuzz/stubs/stub.rc -o "$scratch/res$bits.o"
  flags=(-nostdlib -Os -Wl,--entry="$entry" -Wl,--no-insert-timestamp fuzz/stubs/stub.c)
  "$cc" "${flags[@]}" -s -o "$scratch/stub${bits}_plain.exe"
  "$cc" "${flags[@]}" -s "$scratch/res$bits.o" -o "$scratch/stub${bits}_resources.exe"
  "$cc" "${flags[@]}" "$scratch/res$bits.o" -o "$scratch/stub${bits}_symbols.exe"
  stubs+=("$scratch/stub${bits}_plain.exe" "$scratch/stub${bits}_resources.exe" "$scratch/stub${bits}_symbols.exe")
done

"$build/fuzz/fuzz_corpus_maker" fuzz/corpus "${stubs[@]}"
du -sh fuzz/corpus
for target in fuzz/corpus/*/; do echo "$(basename "$target"): $(ls "$target" | wc -l) seeds"; done
