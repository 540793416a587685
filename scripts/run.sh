#!/usr/bin/env bash
# The one run command: installs what is missing, builds, then runs the server against the
# device simulator with the VBScript sample (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ -n "${DISPLAY:-}" ]; then
  exec python3 tools/run_demo.py
else
  exec xvfb-run -a -s "-screen 0 1024x768x24" python3 tools/run_demo.py
fi
