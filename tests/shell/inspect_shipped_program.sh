#!/usr/bin/env bash
# Inspects the shipped 32-bit setup program without running it: a PE32 for i386 and the GUI
# subsystem, subsystem and OS version 5.0, stripped, importing only from Windows system DLLs and
# only functions that Windows 2000 exports, with the shell's resources in place.
#
# Usage: inspect_shipped_program.sh OBJDUMP PROGRAM.exe IMPORT_LIST [RESOURCE_CHECK_ARGUMENT...]
set -u
objdump=$1 program=$2 allowed=$3
shift 3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program"; exit 1; }
field() { printf '%s\n' "$headers" | awk -v name="$1" '$1 == name { print $2; exit }'; }

printf '%s\n' "$headers" | grep -q 'file format pei-i386$' || fail "file format is not pei-i386"
[ "$(field Magic)" = 010b ] || fail "optional header magic $(field Magic), expected 010b (PE32)"
[ "$(field Subsystem)" = 00000002 ] || fail "subsystem $(field Subsystem), expected 00000002 (Windows GUI)"
for name in MajorSubsystemVersion MajorOSystemVersion; do
  [ "$(field $name)" = 5 ] || fail "$name $(field $name), expected 5"
done
for name in MinorSubsystemVersion MinorOSystemVersion; do
  [ "$(field $name)" = 0 ] || fail "$name $(field $name), expected 0"
done
printf '%s\n' "$headers" | grep -q 'symbols stripped' || fail "symbols are not stripped"
"$objdump" -h "$program" | grep -q '\.debug' && fail "debug sections present"

# Imports as "DLL FUNCTION" lines; an import by ordinal shows no name and is caught as unknown.
imports=$(printf '%s\n' "$headers" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  dll != "" && /^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+/ { print dll, ($3 == "" ? "<ordinal " $2 ">" : $3) }
  /^$/ { dll = "" }')
[ -n "$imports" ] || fail "no imports found"
while read -r dll function; do
  case $dll in
    KERNEL32.DLL | USER32.DLL | COMCTL32.DLL | SHELL32.DLL | MSVCRT.DLL | ADVAPI32.DLL) ;;
    *) fail "import from $dll, which is not a Windows system DLL: $function" ;;
  esac
  grep -qxF "$dll $function" "$allowed" || fail "import $dll $function is not known to exist on Windows 2000"
done <<<"$imports"
echo "imports: $(printf '%s\n' "$imports" | wc -l) functions from $(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -u | tr '\n' ' ')"

resources=$(wrestool -l "$program") || fail "wrestool cannot list the resources"
for resource in "--type=5 --name=1100 " "--type=14 --name=1000 " "--type=3 --name=1 " "--type=3 --name=2 " \
                "--type=24 --name=1 " "--type=16 --name=1 "; do
  printf '%s\n' "$resources" | grep -qF -- "$resource--language=1033 " || fail "resource missing: $resource"
done

python3 "$(dirname "$0")/check_resources.py" "$@" "$program" || fail "resource contents differ"

[ $failures -eq 0 ] && echo "inspection passed: $program"
exit $((failures > 0))
