#!/usr/bin/env bash
# Makes the release package from a Windows build of MVRServ.exe:
#   OUT_DIR/MVRServ-<version>-setup.exe   the German NSIS installer
#   OUT_DIR/MVRServ-<version>.zip         the same files in a folder "MVR Server"
# Usage: scripts/package.sh [BUILD_DIR [OUT_DIR]]
# BUILD_DIR defaults to build/win32 (the product); OUT_DIR to dist/ for the 32-bit product
# and to BUILD_DIR/dist for the x86_64 build that stands in for tests. The version is the one
# in the file VERSION, and the program's version resource must carry it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(realpath -m "${1:-$ROOT/build/win32}")

command -v makensis >/dev/null || { echo "package: makensis is missing (scripts/setup.sh installs nsis)" >&2; exit 1; }
[ -f "$BUILD/app/MVRServ.exe" ] || { echo "package: no $BUILD/app/MVRServ.exe; build first (scripts/build.sh)" >&2; exit 1; }
VERSION=$(tr -d ' \t\r\n' < "$ROOT/VERSION")
[[ "$VERSION" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package: VERSION '$VERSION' is not a.b.c.d" >&2; exit 1; }

WORK=$BUILD/package
STAGE="$WORK/MVR Server"
mkdir -p "$WORK"
TARGET=$(python3 "$ROOT/installer/stage.py" "$BUILD" "$VERSION" "$STAGE")
if [ $# -ge 2 ]; then
  OUT=$(realpath -m "$2")
elif [ "$TARGET" = x86-unicode ]; then
  OUT=$ROOT/dist
else
  OUT=$BUILD/dist
fi
mkdir -p "$OUT"
SETUP=$OUT/MVRServ-$VERSION-setup.exe
ZIP=$OUT/MVRServ-$VERSION.zip

makensis -V2 -NOCD -DVERSION="$VERSION" -DTARGET="$TARGET" -DSTAGE="$STAGE" -DOUTFILE="$SETUP" \
  "$ROOT/installer/MVRServ.nsi"
rm -f "$ZIP"
(cd "$WORK" && python3 -m zipfile -c "$ZIP" "MVR Server")
echo "package: $SETUP ($TARGET)"
echo "package: $ZIP"
