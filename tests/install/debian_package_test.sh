#!/usr/bin/env bash
# The Debian package as scripts/package.sh makes it: its fields and files, and the packer run from
# the package's files alone, unpacked with dpkg -x and installed with dpkg into an empty root that
# knows only the packages it depends on, as this Debian 12 machine has them.
# Usage: debian_package_test.sh SOURCE-TREE BUILD-ROOT VERSION
set -u
. "$(dirname "$0")/installed_checks.sh"
source_tree=$1 build_root=$2 version=$3
work=$(realpath "$(mktemp -d "$build_root/package-test.XXXXXX")")
trap 'rm -rf "$work"' EXIT

if ! bash "$source_tree/scripts/package.sh" "$build_root" >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  fail "scripts/package.sh failed"
  finish
fi
deb=$(tail -n 1 "$work/package.log")
[ "$(basename "$deb")" = "mksetup_${version}_amd64.deb" ] || fail "the package is named $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = mksetup ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
depends=$(field Depends)
for library in libc6 zlib1g; do
  [[ ", $depends," =~ ,\ $library[\ ,] ]] || fail "Depends lacks $library: $depends"
done
# A packaged build has no sanitizers, whose runtimes would show up here.
[[ "$depends" != *asan* && "$depends" != *ubsan* ]] || fail "Depends names sanitizer runtimes: $depends"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort -k 3)
expected_files="-rwxr-xr-x root/root ./usr/bin/mksetup
-rw-r--r-- root/root ./usr/share/mksetup/setup.exe
-rw-r--r-- root/root ./usr/share/mksetup/setup64.exe"
[ "$files" = "$expected_files" ] || fail "the package holds: $files"

make_folder "$work/in"

# The files alone, where dpkg -x puts them.
dpkg -x "$deb" "$work/x" || fail "dpkg -x failed"
program=$work/x/usr/bin/mksetup
pack_with_default_stub "$program" "$work/in" "$work/x-packed" 014c
! grep -qF "$build_root" "$program" || fail "$program names a folder of the machine it was built on"
rm "$work/x/usr/share/mksetup/setup.exe"
"$program" pack "$work/in" -o "$work/none.exe" >"$work/none.out" 2>"$work/none.err"
rc=$?
[ $rc -eq 1 ] || fail "packing without a stub ended with $rc, not 1"
[ ! -e "$work/none.exe" ] || fail "packing without a stub wrote a file"
[ "$(cat "$work/none.err")" = "mksetup: $work/x/usr/share/mksetup/setup.exe: no setup stub here, nor at $work/x/usr/bin/setup-stub.exe; name one with --stub STUB.exe" ] ||
  fail "packing without a stub said: $(cat "$work/none.err")"

# Installed by dpkg, which checks the dependencies against what the root knows.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
for name in $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends"); do
  { dpkg-query -s "$name:$(dpkg --print-architecture)" && echo; } >>"$root/var/lib/dpkg/status" ||
    fail "this machine has no $name"
done
if dpkg --root="$root" -i "$deb" >"$work/dpkg-install.log" 2>&1; then
  pack_with_default_stub "$root/usr/bin/mksetup" "$work/in" "$work/root-packed" 014c
  dpkg --root="$root" -r mksetup >"$work/dpkg-remove.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg-remove.log")"
  left=$(find "$root" -path "$root/var" -prune -o -type f -print)
  [ -z "$left" ] || fail "dpkg -r left files: $left"
else
  cat "$work/dpkg-install.log"
  fail "dpkg -i --root failed"
fi

finish "the package installs and its mksetup packs with the stub that came with it"
