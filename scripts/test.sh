#!/usr/bin/env bash
# The one test command: installs what is missing, builds everything and runs every test
# (host unit tests under ASan/UBSan, the fuzz target for a bounded time, the Wine tests
# with the real programs under Xvfb) through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir build/host --output-on-failure --timeout 600 "$@"
