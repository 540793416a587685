#!/usr/bin/env bash
# Builds everything into build/: the host build (portable core, simulator, host tests, with
# ASan/UBSan), the libFuzzer build (clang), the i686 product build of MVRServ.exe and the
# x86_64 build (all of it where the Wine tests run it, else the 64-bit test clients).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
B=$ROOT/build
JOBS=$(nproc)
ARCH=$(scripts/wine-arch.sh)
WINDIR=$B/win32
[ "$ARCH" = win64 ] && WINDIR=$B/win64

# libjpeg-turbo for each Windows build, built once and kept in build/libjpeg.
JOBS=$JOBS scripts/build-libjpeg.sh i686-w64-mingw32
JOBS=$JOBS scripts/build-libjpeg.sh x86_64-w64-mingw32

cmake -S . -B "$B/win32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$B/win32" -j"$JOBS"
# The x86_64 build: all of it where it stands in for the Wine tests, elsewhere only the
# 64-bit clients that the wow64 test runs against the 32-bit program.
cmake -S . -B "$B/win64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake \
  -DMVR_MINGW_PREFIX=x86_64-w64-mingw32 -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ "$ARCH" = win64 ]; then
  cmake --build "$B/win64" -j"$JOBS"
else
  cmake --build "$B/win64" -j"$JOBS" --target automation_client mvrscript
fi

CC=clang CXX=clang++ cmake -S . -B "$B/fuzz" -DMVR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/fuzz" -j"$JOBS" --target receive_fuzz

cmake -S . -B "$B/host" -DMVR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DMVR_WIN32_DIR="$WINDIR" -DMVR_FUZZ_DIR="$B/fuzz" >/dev/null
cmake --build "$B/host" -j"$JOBS"
echo "build: done (Wine tests use $WINDIR)"
