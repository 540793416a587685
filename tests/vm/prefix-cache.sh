#!/usr/bin/env bash
# Keeps the guest's saved Wine prefixes (build/vm/prefix-*.tar, made by the first run of the
# 32-bit set in a clone) in the machine's cache beside the image, so a fresh clone starts
# with them: "restore" before the tests, "save" after. Whether a saved prefix still fits is
# decided in the guest by its key file.
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=${MVR_VM_DIR:-$PWD/build/vm}
CACHE=${MVR_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mvr-server/vm}
case "${1:-}" in
  restore) from=$CACHE to=$OUT ;;
  save) from=$OUT to=$CACHE ;;
  *) echo "usage: $0 restore|save" >&2; exit 2 ;;
esac
[ -d "$from" ] || exit 0
mkdir -p "$to"
for key in "$from"/prefix-*.tar.key; do
  [ -f "$key" ] || continue
  tar=${key%.key} name=$(basename "${key%.key}")
  [ -f "$tar" ] || continue
  # Only what differs is copied; the key goes last, so a copy cut short is never taken.
  if [ "$(cat "$to/$name.key" 2>/dev/null)" != "$(cat "$key")" ] || ! cmp -s "$tar" "$to/$name"; then
    rm -f "$to/$name.key"
    cp --sparse=always "$tar" "$to/$name.new" && mv "$to/$name.new" "$to/$name" && cp "$key" "$to/$name.key" ||
      echo "prefix cache: $name not copied to $to"
  fi
done
