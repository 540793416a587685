#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev valgrind
  mingw-w64 g++-mingw-w64-i686 gcc-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick socat python3 dpkg-dev nsis
)

# libjpeg-turbo is cross-built for Windows from Debian's source package (scripts/build-libjpeg.sh):
# a deb-src entry for the archive this machine's packages already come from, unless it has one.
HERE=$(cd "$(dirname "$0")" && pwd)
SRC_LIST=/etc/apt/sources.list.d/mvr-deb-src.sources
if [ -z "$("$HERE/apt-source.sh" deb-src bookworm "$SRC_LIST")" ]; then
  read -r uri key < <("$HERE/apt-source.sh" deb bookworm) ||
    { echo "setup: no apt source for Debian 12 (bookworm) in /etc/apt" >&2; exit 1; }
  entry="Types: deb-src
URIs: $uri
Suites: bookworm
Components: main"
  # The same key as the packages' entry: a mirror of its own may sign with its own.
  if [ "$key" != - ]; then entry+=$'\n'"Signed-By: $key"; fi
  if [ "$(cat "$SRC_LIST" 2>/dev/null)" != "$entry" ]; then
    printf '%s\n' "$entry" >"$SRC_LIST"
    apt_update_needed=1
  fi
elif [ -f "$SRC_LIST" ]; then
  rm "$SRC_LIST"  # the machine has its own entry now
  apt_update_needed=1
fi

need_install=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_install=1
fi
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    need_install=1
  fi
done
if [ "${apt_update_needed:-0}" = 1 ] && [ "$need_install" = 0 ]; then
  apt-get update -q
fi
if [ "$need_install" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
fi
echo "setup: all packages present"

# Machines that cannot execute 32-bit x86 code run the shipped 32-bit program's tests in an
# emulated guest (tests/vm/): qemu, debootstrap and the guest image, built once into build/vm.
if [ "$("$HERE/wine-arch.sh")" = win64 ] || [ "${MVR_VM_TESTS:-}" = 1 ]; then
  for p in qemu-system-x86 debootstrap; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      apt-get update -q
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-system-x86 debootstrap
      break
    fi
  done
  "$HERE/../tests/vm/build-image.sh"
fi
