#!/usr/bin/env bash
# Cross-builds libjpeg-turbo (Debian's source package) as a static library for one mingw-w64
# target and installs headers and library into build/libjpeg/<target>. A finished install is
# kept: a second build does not rebuild it.
#   scripts/build-libjpeg.sh i686-w64-mingw32|x86_64-w64-mingw32
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
TARGET=${1:?mingw-w64 target prefix}
BASE=$ROOT/build/libjpeg
PREFIX=$BASE/$TARGET
if [ -f "$PREFIX/lib/libjpeg.a" ] && [ -f "$PREFIX/include/jpeglib.h" ]; then
  exit 0
fi

# The source once for every target: `apt-get source` unpacks with Debian's patches applied.
mkdir -p "$BASE/src"
SRC=$(find "$BASE/src" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
if [ -z "$SRC" ]; then
  # Progress to /dev/null; apt's remark about downloading as root is no problem here.
  (cd "$BASE/src" && apt-get source -qq libjpeg-turbo 2>&1 >/dev/null |
    grep -v "Download is performed unsandboxed" >&2 || true)
  SRC=$(find "$BASE/src" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
fi
[ -n "$SRC" ] || { echo "build-libjpeg: no libjpeg-turbo source (deb-src entry missing?)" >&2; exit 1; }

# SIMD needs nasm; without it the portable C code paths are used.
SIMD=OFF
command -v nasm >/dev/null 2>&1 && SIMD=ON

WORK=$BASE/build-$TARGET
cmake -S "$SRC" -B "$WORK" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw.cmake" \
  -DMVR_MINGW_PREFIX="$TARGET" -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
  -DWITH_TURBOJPEG=OFF -DWITH_SIMD=$SIMD -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
cmake --build "$WORK" -j"${JOBS:-2}" --target jpeg-static >/dev/null
mkdir -p "$PREFIX/lib" "$PREFIX/include"
cp "$SRC/jpeglib.h" "$SRC/jmorecfg.h" "$SRC/jerror.h" "$WORK/jconfig.h" "$PREFIX/include/"
cp "$WORK/libjpeg.a" "$PREFIX/lib/libjpeg.a"
echo "$(basename "$SRC") for $TARGET (SIMD $SIMD) in $PREFIX"
