#!/usr/bin/env bash
# Builds the test guest into build/vm/: a Debian 12 amd64 system with i386 multiarch and
# 32-bit Wine (debootstrap minbase, then the packages of guest-packages.txt in a chroot),
# turned into an ext4 disk image, plus Debian's guest kernel and initrd to boot it directly.
# Rebuilds only when the package list, the guest's init script or this script's commands
# changed (their hash is stored with the image). Needs root, debootstrap and e2fsprogs.
# Packages come from the archives this machine's apt uses for Debian 12
# (scripts/apt-source.sh), or MVR_DEBIAN_MIRROR and MVR_DEBIAN_SECURITY.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
OUT=${MVR_VM_DIR:-$ROOT/build/vm}
SUITE=bookworm
IMAGE_SIZE=4G

mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' tests/vm/guest-packages.txt | grep -v '^$')
# What makes the image: the packages, the guest's init script, and this script's commands.
# Comments and blank lines here change nothing in the image, nor does where packages come
# from (scripts/apt-source.sh), so neither rebuilds it.
stamp=$({ printf '%s\n' "${packages[@]}"; cat tests/vm/guest-init.sh
          grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' tests/vm/build-image.sh; } | sha256sum | cut -d' ' -f1)
if [ -f "$OUT/guest.img" ] && [ "$(cat "$OUT/image.sha256" 2>/dev/null)" = "$stamp" ]; then
  echo "vm image: up to date ($OUT)"
  exit 0
fi
# A copy of the last image built on this machine, outside any clone: a fresh clone takes it
# instead of building the same image again (minutes of downloads and package installs).
CACHE=${MVR_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mvr-server/vm}
IMAGE_FILES=(guest.img vmlinuz initrd.img packages.txt)
if [ "$(cat "$CACHE/image.sha256" 2>/dev/null)" = "$stamp" ]; then
  mkdir -p "$OUT"
  for f in "${IMAGE_FILES[@]}"; do cp --sparse=always "$CACHE/$f" "$OUT/$f.new"; done
  for f in "${IMAGE_FILES[@]}"; do mv "$OUT/$f.new" "$OUT/$f"; done
  echo "$stamp" > "$OUT/image.sha256"
  echo "vm image: taken from $CACHE"
  exit 0
fi

# "URI KEY" of the machine's first entry for a suite; KEY "-" when it names no key file.
archive() { scripts/apt-source.sh deb "$1" | head -1; }
read -r MIRROR KEY <<<"${MVR_DEBIAN_MIRROR:-$(archive $SUITE)}" || true
[ -n "$MIRROR" ] || { echo "vm image: no apt source for $SUITE in /etc/apt; set MVR_DEBIAN_MIRROR"; exit 1; }
read -r UPDATES UPDATES_KEY <<<"${MVR_DEBIAN_MIRROR:-$(archive $SUITE-updates)}" || true
read -r SECURITY SECURITY_KEY <<<"${MVR_DEBIAN_SECURITY:-$(archive $SUITE-security)}" || true
# A proxy the machine's apt is configured with: debootstrap and the guest's apt read it from here.
if [ -z "${http_proxy:-}" ]; then
  eval "$(apt-config shell http_proxy Acquire::http::Proxy)"
  if [ -n "${http_proxy:-}" ]; then export http_proxy; fi
fi

mkdir -p "$OUT"
work=$(mktemp -d "$OUT/rootfs.XXXXXX")
target=$work/root
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

t0=$(date +%s)
echo "vm image: debootstrap $SUITE (minbase) from $MIRROR"
# A mirror that signs with a key of its own: debootstrap checks with that key, and so does the guest.
keyring=()
[ -f "${KEY:--}" ] && keyring=(--keyring="$KEY")
debootstrap --variant=minbase --arch=amd64 "${keyring[@]}" "$SUITE" "$target" "$MIRROR" > "$work/debootstrap.log" 2>&1 ||
  { tail -30 "$work/debootstrap.log"; exit 1; }

for fs in proc sys dev dev/pts; do
  mount --bind "/$fs" "$target/$fs"
  mounted+=("$target/$fs")
done
entry() {  # URI SUITE KEY
  local opts=""
  if [ -f "${3:--}" ]; then
    [ -e "$target$3" ] || install -D -m 644 "$3" "$target$3"
    opts="[signed-by=$3] "
  fi
  echo "deb $opts$1 $2 main"
}
{
  entry "$MIRROR" "$SUITE" "${KEY:-}"
  [ -z "${UPDATES:-}" ] || entry "$UPDATES" "$SUITE-updates" "${UPDATES_KEY:-}"
  [ -z "${SECURITY:-}" ] || entry "$SECURITY" "$SUITE-security" "${SECURITY_KEY:-}"
} > "$target/etc/apt/sources.list"
# The kernel package must not try to find a boot loader or the root disk of the chroot.
mkdir -p "$target/etc/initramfs-tools/conf.d"
echo "MODULES=most" > "$target/etc/initramfs-tools/conf.d/mvr"
echo "do_symlinks = no" > "$target/etc/kernel-img.conf"

echo "vm image: installing ${packages[*]}"
chroot "$target" dpkg --add-architecture i386
{
  chroot "$target" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
  # i386 postinsts that run programs fail with "Exec format error" on hosts without 32-bit
  # user mode (glib-compile-schemas, for one); the guest does not need what they make.
  chroot "$target" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${packages[@]}" || chroot "$target" env DEBIAN_FRONTEND=noninteractive dpkg --configure -a ||
    chroot "$target" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -f --no-install-recommends
} > "$work/apt.log" 2>&1 || { tail -40 "$work/apt.log"; exit 1; }
grep -q "^E:" "$work/apt.log" && grep "^E:" "$work/apt.log" || true
chroot "$target" apt-get clean
for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}"; done
mounted=()

install -m 755 tests/vm/guest-init.sh "$target/sbin/mvr-init"
kernel=$(ls "$target"/boot/vmlinuz-* | sort -V | tail -1)
initrd=$(ls "$target"/boot/initrd.img-* | sort -V | tail -1)
[ -f "$kernel" ] && [ -f "$initrd" ] || { echo "vm image: no kernel or initrd in the guest"; exit 1; }
for f in "$target/usr/lib/wine/wine" "$target/usr/bin/Xvfb" "$target/usr/bin/socat" "$target/usr/bin/python3"; do
  [ -e "$f" ] || { echo "vm image: $f missing in the guest"; exit 1; }
done
cp "$kernel" "$OUT/vmlinuz.new"
cp "$initrd" "$OUT/initrd.img.new"

rm -f "$OUT/guest.img.new"
truncate -s "$IMAGE_SIZE" "$OUT/guest.img.new"
mkfs.ext4 -q -F -L mvr-guest -d "$target" "$OUT/guest.img.new"
mv "$OUT/vmlinuz.new" "$OUT/vmlinuz"
mv "$OUT/initrd.img.new" "$OUT/initrd.img"
mv "$OUT/guest.img.new" "$OUT/guest.img"
echo "$stamp" > "$OUT/image.sha256"
printf '%s\n' "${packages[@]}" > "$OUT/packages.txt"
# The stamp goes last: a cache cut short by a full disk or a kill is never taken.
keep_in_cache() {
  mkdir -p "$CACHE" && rm -f "$CACHE/image.sha256" || return 1
  for f in "${IMAGE_FILES[@]}"; do cp --sparse=always "$OUT/$f" "$CACHE/$f" || return 1; done
  echo "$stamp" > "$CACHE/image.sha256"
}
keep_in_cache || echo "vm image: not kept in $CACHE"
echo "vm image: built in $(($(date +%s) - t0)) s: $(du -h --apparent-size "$OUT/guest.img" | cut -f1) image," \
  "$(du -h "$OUT/guest.img" | cut -f1) used"
