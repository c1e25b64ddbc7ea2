#!/usr/bin/env bash
# Installs, as root on Debian 12, whatever the build and the tests need and this machine lacks.
# A machine that has everything is left alone, so a second run installs nothing.
set -eu
packages=(cmake make g++ zlib1g-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
          wine64 xvfb xauth mmdebstrap debian-archive-keyring icoutils binutils-mingw-w64-i686 imagemagick x11-utils clang libclang-rt-14-dev python3
          locales osslsigncode openssl dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

# Wine takes the ANSI code page from the locale, and names beyond ASCII reach Linux only through a
# locale that exists: the Japanese one proves the double-byte names.
japanese_locale() {
  locale -a 2>/dev/null | grep -qx 'ja_JP.utf8' && return 0
  echo "install-deps: generating the ja_JP.UTF-8 locale"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

if [ ${#missing[@]} -eq 0 ]; then
  japanese_locale
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages and not root; install them: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
japanese_locale
