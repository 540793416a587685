#!/usr/bin/env bash
# The one test command: installs what is missing, builds everything and runs every test
# (host unit tests under ASan/UBSan, the fuzz target for a bounded time, the Wine tests
# with the real programs under Xvfb) through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# Two at a time: the Wine tests take turns (they share one prefix and COM1), and beside them
# run the host tests and, where there is one, the emulated guest's set.
guest=0
if [ "$(scripts/wine-arch.sh)" = win64 ] || [ "${MVR_VM_TESTS:-}" = 1 ]; then guest=1; fi
[ "$guest" = 0 ] || tests/vm/prefix-cache.sh restore
rc=0
xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir build/host --output-on-failure --timeout 600 -j2 "$@" || rc=$?
[ "$guest" = 0 ] || tests/vm/prefix-cache.sh save
exit $rc
