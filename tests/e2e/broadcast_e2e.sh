#!/usr/bin/env bash
# End to end over the real limited broadcast address, isolated from every
# real network (scripts/netns-lab.sh): the simulator in one namespace on its
# default endpoints, replying by broadcast; the program's window in the other
# on its default endpoints. Needs root; skips (77) without.
#   broadcast_e2e.sh CLIENT DEVSIM
set -euo pipefail
client="$1"
devsim="$2"
lab="$(dirname "$0")/../../scripts/netns-lab.sh"
tag="ple$$"
sim_pid=""
log="$(mktemp)"

cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  "$lab" down "$tag"
  rm -f "$log"
}
trap cleanup EXIT

status=0
"$lab" up "$tag" || status=$?
[ "$status" -eq 0 ] || exit "$status"

ip netns exec "${tag}d" "$devsim" --devices 3 --seed 11 --time-limit 60 >"$log" 2>&1 &
sim_pid=$!
sleep 0.5

ip netns exec "${tag}h" env QT_QPA_PLATFORM=offscreen timeout 60 "$client" 3 || status=$?
echo "--- simulator log"
cat "$log"
exit "$status"
