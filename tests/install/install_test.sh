#!/usr/bin/env bash
# `cmake --install` of a build tree into a throwaway prefix: mksetup in bin/, the shipped 32-bit
# stub and its 64-bit twin in share/mksetup/. The installed mksetup packs onto the 32-bit one
# without --stub, and finds it relative to itself: after the prefix has moved, and ahead of any stub
# its build tree knows of.
# Usage: install_test.sh BUILD-TREE
set -u
. "$(dirname "$0")/installed_checks.sh"
tree=$1
work=$(mktemp -d "$tree/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$tree/CMakeCache.txt"; }

if ! cmake --install "$tree" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install $tree failed"
  finish
fi
installed=$(cd "$work/prefix" && find . -type f | sort)
[ "$installed" = $'./bin/mksetup\n./share/mksetup/setup.exe\n./share/mksetup/setup64.exe' ] ||
  fail "the prefix holds other files: $installed"
cmp -s "$work/prefix/share/mksetup/setup.exe" "$(cache_value MKSETUP_STUB_32)" ||
  fail "share/mksetup/setup.exe is not $(cache_value MKSETUP_STUB_32)"
cmp -s "$work/prefix/share/mksetup/setup64.exe" "$(cache_value MKSETUP_STUB_64)" ||
  fail "share/mksetup/setup64.exe is not $(cache_value MKSETUP_STUB_64)"
[ "$(pe_machine "$work/prefix/share/mksetup/setup.exe")" = 014c ] || fail "share/mksetup/setup.exe is not for x86"
[ "$(pe_machine "$work/prefix/share/mksetup/setup64.exe")" = 8664 ] || fail "share/mksetup/setup64.exe is not for x86-64"

make_folder "$work/in"
pack_with_default_stub "$work/prefix/bin/mksetup" "$work/in" "$work/packed" 014c

# Moved, with the twin in the place of the 32-bit stub: a program made for x86-64 shows that the
# stub came from beside the moved program, not from the build tree this mksetup was made in.
mv "$work/prefix" "$work/moved"
cp "$work/moved/share/mksetup/setup64.exe" "$work/moved/share/mksetup/setup.exe"
pack_with_default_stub "$work/moved/bin/mksetup" "$work/in" "$work/packed-moved" 8664

finish "installed into a prefix, mksetup packs onto the stub installed with it"
