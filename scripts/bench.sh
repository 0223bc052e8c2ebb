#!/usr/bin/env bash
# Builds and runs the benchmarks (Release).
set -euo pipefail
cd "$(dirname "$0")/.."
PATHLUME_WITH_BENCH=1 scripts/setup.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_BENCH=ON \
  -DPATHLUME_BUILD_TESTS=OFF -DPATHLUME_BUILD_UI=OFF >/dev/null
cmake --build build/bench
exec build/bench/bench/protocol_bench "$@"
