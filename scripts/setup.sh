#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev valgrind
  mingw-w64 g++-mingw-w64-i686 gcc-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick socat python3 dpkg-dev nsis
)

# libjpeg-turbo is cross-built for Windows from Debian's source package (scripts/build-libjpeg.sh).
SRC_LIST=/etc/apt/sources.list.d/mvr-deb-src.sources
if [ ! -f "$SRC_LIST" ]; then
  cat >"$SRC_LIST" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
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
HERE=$(cd "$(dirname "$0")" && pwd)
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
