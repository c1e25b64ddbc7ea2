# What the install and package tests check of an installed mksetup; sourced. Each failed check
# counts in `failures` and says what went wrong.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# pe_machine FILE: the COFF machine field of a PE file in hex (014c for x86, 8664 for x86-64).
pe_machine() {
  local pe_offset
  pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' '
}

# make_folder DIR: nested folders, a name with a space, contents that do and do not compress.
make_folder() {
  mkdir -p "$1/bin" "$1/docs/read me"
  head -c 200000 /dev/urandom >"$1/bin/tool.dll"
  seq 1 30000 >"$1/docs/read me/notes.txt"
  printf '@echo off\r\necho installed\r\n' >"$1/start.bat"
}

# pack_with_default_stub MKSETUP FOLDER WORK MACHINE: packs FOLDER without --stub into WORK/out.exe,
# expects a stub of MACHINE, and reads the program back with list, verify and extract.
pack_with_default_stub() {
  local mksetup=$1 folder=$2 work=$3 machine=$4
  mkdir -p "$work"
  if ! "$mksetup" pack "$folder" -o "$work/out.exe" --launch start.bat >"$work/pack.log" 2>&1; then
    cat "$work/pack.log"
    fail "$mksetup did not pack with its default stub"
    return
  fi
  [ "$(pe_machine "$work/out.exe")" = "$machine" ] ||
    fail "$mksetup packed onto a stub for machine $(pe_machine "$work/out.exe"), not $machine"
  "$mksetup" list "$work/out.exe" >"$work/list.log" 2>&1 || fail "$mksetup list failed: $(cat "$work/list.log")"
  grep -qF 'docs\read me\notes.txt' "$work/list.log" || fail "list does not show docs\\read me\\notes.txt: $(cat "$work/list.log")"
  "$mksetup" verify "$work/out.exe" >"$work/verify.log" 2>&1 || fail "$mksetup verify failed: $(cat "$work/verify.log")"
  if "$mksetup" extract "$work/out.exe" -C "$work/extracted" >"$work/extract.log" 2>&1; then
    diff -r "$folder" "$work/extracted" || fail "what $mksetup extracted differs from $folder"
  else
    fail "$mksetup extract failed: $(cat "$work/extract.log")"
  fi
}

finish() {
  if [ "$failures" -gt 0 ]; then
    echo "checks failed: $failures"
    exit 1
  fi
  echo "$1"
}
