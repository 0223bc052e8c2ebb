#!/usr/bin/env bash
# End to end over the real limited broadcast address, isolated from every
# real network: two private network namespaces joined by a veth pair, the
# simulator in one (default endpoints, broadcast replies), the program's
# window in the other (default endpoints). Needs root; skips (77) without.
#   broadcast_e2e.sh CLIENT DEVSIM
set -euo pipefail
client="$1"
devsim="$2"

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
  echo "skipped: needs root and iproute2 for private network namespaces"
  exit 77
fi

tag="$$"
host_ns="plh$tag"
dev_ns="pld$tag"
sim_pid=""
log="$(mktemp)"

cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  ip netns del "$host_ns" 2>/dev/null || true
  ip netns del "$dev_ns" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT

if ! ip netns add "$host_ns" 2>/dev/null || ! ip netns add "$dev_ns" 2>/dev/null; then
  echo "skipped: cannot create network namespaces here"
  exit 77
fi
ip link add "vh$tag" type veth peer name "vd$tag"
ip link set "vh$tag" netns "$host_ns"
ip link set "vd$tag" netns "$dev_ns"
ip -n "$host_ns" addr add 10.231.0.1/24 dev "vh$tag"
ip -n "$dev_ns" addr add 10.231.0.2/24 dev "vd$tag"
for ns in "$host_ns" "$dev_ns"; do ip -n "$ns" link set lo up; done
ip -n "$host_ns" link set "vh$tag" up
ip -n "$dev_ns" link set "vd$tag" up
# The limited broadcast leaves by the default route: point it at the veth.
ip -n "$host_ns" route add default dev "vh$tag"
ip -n "$dev_ns" route add default dev "vd$tag"

ip netns exec "$dev_ns" "$devsim" --devices 3 --seed 11 --time-limit 60 >"$log" 2>&1 &
sim_pid=$!
sleep 0.5

status=0
ip netns exec "$host_ns" env QT_QPA_PLATFORM=offscreen timeout 60 "$client" 3 || status=$?
echo "--- simulator log"
cat "$log"
exit "$status"
