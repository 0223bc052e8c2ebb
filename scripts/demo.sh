#!/usr/bin/env bash
# Runs Pathlume on this desktop against simulated devices, as root, without
# touching any real network: the devices live in a private namespace pair
# (scripts/netns-lab.sh), because the program and the devices both need UDP
# port 22093. Extra arguments go to pathlume-devsim (default: --devices 4).
# PATHLUME_LAB=two: two device networks, a second simulator on the other one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_TESTS=OFF >/dev/null
cmake --build build/release
tag="pld$$"
shape="${PATHLUME_LAB:-one}"
sim_pid=""
sim2_pid=""
cleanup() {
  for p in $sim_pid $sim2_pid; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  scripts/netns-lab.sh down "$tag"
}
trap cleanup EXIT
scripts/netns-lab.sh up "$tag" "$shape"
[ $# -gt 0 ] || set -- --devices 4
ip netns exec "${tag}d" build/release/pathlume-devsim "$@" &
sim_pid=$!
if [ "$shape" = two ]; then
  ip netns exec "${tag}e" build/release/pathlume-devsim --devices 2 --seed 7 &
  sim2_pid=$!
fi
ip netns exec "${tag}h" build/release/app/pathlume
