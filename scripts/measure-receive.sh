#!/usr/bin/env bash
# Measures the receive path (Release build), each figure beside a baseline
# taken in the same run: pipeline MB/s beside glibc memmem, instructions
# per byte under callgrind (one pass minus none), and the worker's wake-ups
# and CPU share during a 4 s Find beside the same time idle. Median of 5.
set -euo pipefail
cd "$(dirname "$0")/.."
PATHLUME_WITH_BENCH=1 scripts/setup.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_BENCH=ON \
  -DPATHLUME_BUILD_TESTS=OFF -DPATHLUME_BUILD_UI=ON >/dev/null
cmake --build build/bench --target receive_measure
m=build/bench/bench/receive_measure
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
"$m" pipeline 5
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ir() {
  valgrind --tool=callgrind --callgrind-out-file="$out/cg.$1" "$m" once "$1" >"$out/log.$1" 2>&1
  grep -m1 '^summary:' "$out/cg.$1" | awk '{print $2}'
}
ir0=$(ir 0); ir1=$(ir 1)
bytes=$(awk '/^bytes/{print $2}' "$out/log.1")
awk -v a="$ir1" -v b="$ir0" -v n="$bytes" \
  'BEGIN { printf "callgrind: %d bytes, %.1f instructions per byte (pipeline pass minus setup)\n", n, (a-b)/n }'
"$m" find 5
