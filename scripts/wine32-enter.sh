#!/usr/bin/env bash
# Runs a command inside the cached 32-bit Wine root (scripts/wine32-root.sh), in a user, mount and
# PID namespace of its own, so that nothing on the host changes and everything started inside ends
# with the command.
#
#   wine32-enter.sh [--writable] CACHE [--share DIR]... -- COMMAND [ARG]...
#
# The command sees a private copy of the root (changes go to memory and vanish), or with --writable
# the root itself. Each shared folder appears at its own path, with whatever is mounted below it.
# A kernel that runs 32-bit code needs nothing more; on one that does not (IA-32 emulation off), the
# namespace gets a binfmt_misc of its own (Linux 6.7 or later) in which qemu-i386 runs i386 programs.
set -u

fail() { echo "wine32-enter: $*" >&2; exit 125; }

# The i386 ELF signature and mask, as the qemu packages register them. The F flag opens the
# emulator now, so it is found from inside the root, where it does not exist.
i386_elf='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_32bit_code() { chroot "$1" /usr/lib/wine/wine --version >/dev/null 2>&1; }

# How 32-bit code runs in this namespace, handed to the command as SETUP_WINE32_ROUTE.
route=

# A fresh binfmt_misc starts empty, so the check below sees the kernel alone, not an emulator that
# the host may have registered.
enable_32bit_code() {
  local cache=$1 root=$2
  local binfmt=$root/proc/sys/fs/binfmt_misc
  route="natively"
  if ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    runs_32bit_code "$root" && return 0
    fail "this kernel runs no 32-bit code and gives a user namespace no binfmt_misc of its own (Linux 6.7 or later does)"
  fi
  runs_32bit_code "$root" && return 0
  printf ':qemu-i386:M::%s:%s:%s:F' "$i386_elf" "$i386_mask" "$cache/qemu-i386" >"$binfmt/register" ||
    fail "cannot register qemu-i386 in the namespace's binfmt_misc"
  runs_32bit_code "$root" || fail "qemu-i386 does not run the root's 32-bit Wine"
  route="under $("$cache/qemu-i386" --version | head -n 1) in a user namespace"
}

inside() {
  local writable=$1 cache=$2; shift 2
  local shares=()
  while [ "$1" = --share ]; do shares+=("$2"); shift 2; done
  shift
  local root
  if [ "$writable" = yes ]; then
    root=$cache/root
    mount --bind "$root" "$root" || fail "cannot bind $root"
  else
    local stage=$cache/stage
    mount -t tmpfs tmpfs "$stage" && mkdir "$stage/upper" "$stage/work" "$stage/root" &&
      mount -t overlay overlay -o "lowerdir=$cache/root,upperdir=$stage/upper,workdir=$stage/work" "$stage/root" ||
      fail "cannot lay a private copy over $cache/root"
    root=$stage/root
  fi
  mount -t proc proc "$root/proc" || fail "cannot mount proc"
  enable_32bit_code "$cache" "$root"
  mount --rbind /dev "$root/dev" && mount --rbind /sys "$root/sys" && mount -t tmpfs tmpfs "$root/tmp" ||
    fail "cannot mount /dev, /sys and /tmp into the root"
  local dir
  for dir in "${shares[@]}"; do
    mkdir -p "$root$dir" && mount --rbind "$dir" "$root$dir" || fail "cannot share $dir"
  done
  # The locale goes in with the program: Wine takes its ANSI code page from it.
  cd / && exec chroot "$root" /usr/bin/env HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    SETUP_WINE32_ROUTE="$route" ${LANG:+LANG="$LANG"} ${LC_ALL:+LC_ALL="$LC_ALL"} "$@"
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
fi

writable=no
if [ "${1:-}" = --writable ]; then writable=yes; shift; fi
cache=${1:?usage: $0 [--writable] CACHE [--share DIR]... -- COMMAND [ARG]...}
shift
# A root in use is never replaced: its maker waits for this shared lock (see wine32-root.sh).
if [ "$writable" = no ]; then
  exec 9<"$cache.lock" && flock -s 9 || fail "cannot lock $cache.lock"
fi
# unshare ignores SIGTERM while it waits for its child; a caller's time limit must send SIGKILL, and
# --kill-child then takes the whole namespace with it.
exec unshare --user --map-root-user --mount --pid --fork --kill-child -- "$0" --inside "$writable" "$cache" "$@"
