#!/bin/bash
# Builds the benchmarks in Release (build/bench), runs link_bench, counts the receive
# path's instructions per byte with callgrind (a 1 MB run minus a run that only sets up),
# and measures the server under Wine (tests/bench/wine_bench.py).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMVR_BENCH=ON -DMVR_SANITIZE=OFF \
  -DMVR_FUZZ=OFF >/dev/null
cmake --build "$build" -j2 --target link_bench link_callgrind >/dev/null

"$build/tests/bench/link_bench" --benchmark_min_time=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
collected() {  # instructions callgrind counted for the program run with the given argument
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.$1" \
    "$build/tests/bench/link_callgrind" "$1" >"$work/out.$1" 2>"$work/err.$1"
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/err.$1"
}
base=$(collected setup)
full=$(collected feed)
bytes=$(sed -n 's/^bytes: //p' "$work/out.feed")
cat "$work/out.feed"
echo "instructions: $full (setup only: $base)"
awk -v f="$full" -v b="$base" -v n="$bytes" \
  'BEGIN { printf "instructions per byte: %.2f\n", (f - b) / n }'

# The real server under Wine against the device simulator (after scripts/build.sh): round
# trips, exchanges a second, idle CPU. Arguments go to wine_bench.py (--server EXE to measure
# another build).
if [ -e "$root/build/win32/app/MVRServ.exe" ] || [ -e "$root/build/win64/app/MVRServ.exe" ]; then
  xvfb-run -a -s "-screen 0 1024x768x24" python3 "$root/tests/bench/wine_bench.py" "$@"
else
  echo "wine_bench: no Windows build; run scripts/build.sh first"
fi
