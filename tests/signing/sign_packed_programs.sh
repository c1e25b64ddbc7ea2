#!/usr/bin/env bash
# Packs a folder onto the 64-bit twin and onto the shipped 32-bit stub, signs both programs with a
# throwaway certificate as a publisher signs after packing, checks the signatures with osslsigncode
# and reads the signed programs back with mksetup list, verify and extract: the certificate table
# that signing appends must not get in the way. Packing onto a signed stub stays refused, with the
# advice to sign after packing. Leaves the folder (in/) and the signed 64-bit program
# (signed64.exe) in OUT for the run under Wine.
# Usage: sign_packed_programs.sh MKSETUP STUB32 STUB64 OUT
set -u
mksetup=$1 stub32=$2 stub64=$3 out=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for file in "$mksetup" "$stub32" "$stub64"; do
  [ -f "$file" ] || { echo "FAIL: $file is missing; scripts/test.sh builds every flavour before it tests any"; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"
cd "$out" || exit 1

# Nested folders, a name with a space, contents that do and do not compress, times to the 100 ns.
# The copy is what the results are compared with, so that nothing reads in/ after packing and its
# access times stay those the programs recorded.
mkdir -p in/bin "in/docs/read me"
head -c 300000 /dev/urandom >in/bin/tool.dll
seq 1 20000 >"in/docs/read me/notes.txt"
printf '[setup]\nname=signed\n' >in/settings.ini
cp -r in expected
for tree in in expected; do
  find "$tree" -type f -exec touch -m -d '2026-05-04 03:02:01.1234567 UTC' {} + \
    -exec touch -a -d '2026-06-01 12:00:00.7654321 UTC' {} +
done

if ! openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=selfextract test publisher" \
    -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem >openssl.log 2>&1; then
  cat openssl.log
  echo "FAIL: openssl made no certificate"
  exit 1
fi

sign() {
  osslsigncode sign -certs cert.pem -key key.pem -n "selfextract signing test" -h sha256 -in "$1" -out "$2" \
    >"$2.sign.log" 2>&1 || { cat "$2.sign.log"; fail "osslsigncode did not sign $1"; }
}

for width in 32 64; do
  stub_variable=stub$width
  stub=${!stub_variable}
  packed=packed$width.exe signed=signed$width.exe
  if ! "$mksetup" pack in -o "$packed" --stub "$stub" >"$packed.log" 2>&1; then
    cat "$packed.log"
    fail "mksetup did not pack onto the $width-bit stub"
    continue
  fi
  sign "$packed" "$signed"
  [ -f "$signed" ] || continue
  [ "$(stat -c %s "$signed")" -gt "$(stat -c %s "$packed")" ] || fail "$signed is no larger than $packed"
  osslsigncode verify -in "$signed" -CAfile cert.pem >"$signed.verify.log" 2>&1 ||
    { cat "$signed.verify.log"; fail "osslsigncode does not accept the signature of $signed"; }

  "$mksetup" list "$packed" >"$packed.list" 2>&1
  if "$mksetup" list "$signed" >"$signed.list" 2>&1; then
    cmp -s "$packed.list" "$signed.list" || { diff "$packed.list" "$signed.list"; fail "list of $signed differs"; }
  else
    cat "$signed.list"
    fail "mksetup list refuses $signed"
  fi
  "$mksetup" verify "$signed" >"$signed.verify" 2>&1 || { cat "$signed.verify"; fail "mksetup verify refuses $signed"; }
  if "$mksetup" extract "$signed" -C "extracted$width" >"$signed.extract" 2>&1; then
    diff -r expected "extracted$width" || fail "what mksetup extracted from $signed differs from the folder"
    for file in settings.ini bin/tool.dll "docs/read me/notes.txt"; do
      [ "$(stat -c %y "expected/$file")" = "$(stat -c %y "extracted$width/$file")" ] ||
        fail "$file extracted from $signed has the last-write time $(stat -c %y "extracted$width/$file")"
    done
  else
    cat "$signed.extract"
    fail "mksetup extract refuses $signed"
  fi
done

# A signature covers the whole file, so a stub that carries one cannot take a payload; the
# refusal says what to do instead, and nothing is written.
sign "$stub64" signed-stub.exe
"$mksetup" pack in -o refused.exe --stub signed-stub.exe >refused.out 2>refused.err
rc=$?
[ $rc -eq 1 ] || fail "packing onto a signed stub ended with $rc, not 1"
[ ! -e refused.exe ] || fail "packing onto a signed stub wrote refused.exe"
expected_error="mksetup: signed-stub.exe: cannot take the payload: the file is signed: adding the payload would break its signature (sign the setup program after packing)"
[ "$(cat refused.err)" = "$expected_error" ] || fail "packing onto a signed stub said: $(cat refused.err)"

if [ $failures -gt 0 ]; then
  echo "checks failed: $failures"
  exit 1
fi
echo "both programs signed, verified by osslsigncode, and listed, verified and extracted by mksetup"
