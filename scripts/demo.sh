#!/usr/bin/env bash
# Runs Pathlume on this desktop against simulated devices, as root, without
# touching any real network: the devices live in a private namespace pair
# (scripts/netns-lab.sh), because the program and the devices both need UDP
# port 22093. Extra arguments go to pathlume-devsim (default: --devices 4).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_TESTS=OFF >/dev/null
cmake --build build/release
tag="pld$$"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  scripts/netns-lab.sh down "$tag"
}
trap cleanup EXIT
scripts/netns-lab.sh up "$tag"
[ $# -gt 0 ] || set -- --devices 4
ip netns exec "${tag}d" build/release/pathlume-devsim "$@" &
sim_pid=$!
ip netns exec "${tag}h" build/release/app/pathlume
