#!/usr/bin/env bash
# Mounts (or unmounts) the two small file systems of the full-disk tests below ROOT: ROOT/small-temp,
# a whole temporary folder, and the extraction folder below ROOT/small-extraction. Mounting needs
# rights that a machine may not grant; then ROOT/mount-failed.txt says why, and the tests skip.
set -u
root=${2:?usage: $0 mount|unmount ROOT}
extraction="$root/small-extraction/{93BE7657-D655-425A-8E7A-F7D9392A5939}"
volumes=("$root/small-temp" "$extraction")

unmount_all() {
  for volume in "${volumes[@]}"; do
    while mountpoint -q "$volume" 2>/dev/null; do umount "$volume" || break; done
  done
}

case "${1:-}" in
  mount)
    unmount_all
    rm -rf "$root"
    mkdir -p "${volumes[@]}"
    for volume in "${volumes[@]}"; do
      if ! error=$(mount -t tmpfs -o size=1m tmpfs "$volume" 2>&1); then
        printf 'mount -t tmpfs -o size=1m tmpfs %s: %s\n' "$volume" "${error:-failed}" >"$root/mount-failed.txt"
        unmount_all
        exit 0
      fi
    done
    ;;
  unmount)
    unmount_all
    rm -rf "$root"
    ;;
  *) echo "usage: $0 mount|unmount ROOT" >&2; exit 2 ;;
esac
