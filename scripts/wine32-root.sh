#!/usr/bin/env bash
# Makes and finds the Debian 12 root in which 32-bit Windows programs run: Wine 8 with its 32-bit
# half, Xvfb, a prepared Wine prefix, and trixie's static qemu-i386 for kernels that run no 32-bit code.
#
#   wine32-root.sh ensure   prints the root's cache folder, making it first when it is missing or broken
#   wine32-root.sh path     prints the cache folder only if it is ready, without making anything
#
# The folder is shared by every build tree on the machine and named after a hash of this recipe, so
# a changed recipe makes a new one. A marker written last proves it
# whole; a folder without it is a broken attempt and is made again. Whoever makes it holds the lock
# file exclusively; every run of a program inside holds it shared, so a root in use is never replaced.
set -u
here=$(cd "$(dirname "$0")" && pwd)
enter=$here/wine32-enter.sh
base=${SETUP_WINE32_CACHE:-/var/cache/selfextract}
recipe=$(sha256sum "$0" | cut -c1-16)
cache=$base/wine32-$recipe
lock=$cache.lock
marker=$cache/ready
mirror=http://deb.debian.org/debian

fail() { echo "wine32-root: $*" >&2; exit 1; }

is_ready() {
  [ "$(cat "$marker" 2>/dev/null)" = "$recipe" ] &&
    [ -x "$cache/qemu-i386" ] && [ -x "$cache/root/usr/lib/wine/wine64" ] &&
    [ -x "$cache/root/usr/lib/wine/wine" ] && [ -x "$cache/root/usr/bin/Xvfb" ] &&
    [ -f "$cache/root/root/.wine/system.reg" ] && [ -d "$cache/stage" ]
}

# Trixie's qemu-i386 (version 10) starts a 32-bit Wine program in seconds where Debian 12's takes a
# minute. Only its one static binary is taken, through a private apt state so the host's package
# sources and lists stay as they are.
fetch_qemu() {
  local apt=$cache/apt
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/deb"
  echo "deb [arch=amd64] $mirror trixie main" >"$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt" -o "Dir::Cache::archives=$apt/archives"
              -o APT::Architectures::=amd64 -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" -qq update >>"$cache.log" 2>&1 || return 1
  (cd "$apt/deb" && apt-get "${opts[@]}" -qq download qemu-user >>"$cache.log" 2>&1) || return 1
  dpkg-deb -x "$apt"/deb/qemu-user_*.deb "$apt/x" || return 1
  cp "$apt/x/usr/bin/qemu-i386" "$cache/qemu-i386" && rm -rf "$apt"
}

# mmdebstrap mounts /proc, /sys and /dev into the new root as it works; its own mount namespace
# keeps those mounts from outliving an interrupted run on the host.
make_root() {
  unshare --mount --propagation private \
    mmdebstrap --variant=minbase --architectures=amd64,i386 --include=wine,wine64,wine32:i386,xvfb,xauth,locales \
      bookworm "$cache/root" "$mirror" >>"$cache.log" 2>&1
}

# The prefix is made once here and every run gets a private copy of it; the Japanese locale lets a
# test run Wine with code page 932 as its ANSI code page. A crash must fail its test
# at once instead of waiting in a crash dialog, and Xvfb has no window manager that a managed window
# (a message box, say) would wait for.
make_prefix() {
  "$enter" --writable "$cache" -- /bin/sh -c '
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 &&
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    /usr/lib/wine/wine64 wineboot -i &&
    /usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
    /usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f &&
    /usr/lib/wine/wineserver -w' >>"$cache.log" 2>&1
}

make_cache() {
  echo "wine32-root: making the 32-bit Wine root in $cache (a few minutes, once; log: $cache.log)" >&2
  rm -rf --one-file-system "$cache" "$cache.log"
  mkdir -p "$cache/stage" || fail "cannot create $cache"
  command -v mmdebstrap >/dev/null || fail "mmdebstrap is missing (scripts/install-deps.sh installs it)"
  fetch_qemu || fail "could not fetch trixie's qemu-user; see $cache.log"
  make_root || fail "mmdebstrap failed; see $cache.log"
  make_prefix || fail "preparing the Wine prefix failed; see $cache.log"
  echo "$recipe" >"$marker"
}

case "${1:-}" in
  path)
    mkdir -p "$base" && exec 9>"$lock" && flock -s 9 || fail "cannot lock $lock"
    is_ready || fail "no 32-bit Wine root in $cache; make it with: $0 ensure"
    echo "$cache"
    ;;
  ensure)
    mkdir -p "$base" && exec 9>"$lock" || fail "cannot create $lock"
    flock -s 9
    if ! is_ready; then
      flock -x 9
      is_ready || make_cache
    fi
    echo "$cache"
    ;;
  *) echo "usage: $0 ensure|path" >&2; exit 2 ;;
esac
