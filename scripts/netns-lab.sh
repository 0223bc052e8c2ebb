#!/usr/bin/env bash
# A private two-host network for broadcast tests and demos, isolated from
# every real network: namespaces "<tag>h" (the program) and "<tag>d" (the
# devices), joined by a veth pair, default routes on the veth so that the
# limited broadcast 255.255.255.255 stays on it. Needs root.
#   netns-lab.sh up TAG     create (exit 77 when namespaces cannot be made)
#   netns-lab.sh down TAG   remove
set -euo pipefail
action="${1:-}"
tag="${2:-}"
[ -n "$tag" ] || { echo "usage: $0 up|down TAG" >&2; exit 2; }
host_ns="${tag}h"
dev_ns="${tag}d"

case "$action" in
  up)
    if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
      echo "skipped: needs root and iproute2 for private network namespaces"
      exit 77
    fi
    if ! ip netns add "$host_ns" 2>/dev/null; then
      echo "skipped: cannot create network namespaces here"
      exit 77
    fi
    # Some sandboxes (a chroot, for one) can make a namespace but not run in it.
    if ! ip netns exec "$host_ns" true 2>/dev/null; then
      ip netns del "$host_ns" 2>/dev/null || true
      echo "skipped: cannot run programs in a network namespace here"
      exit 77
    fi
    ip netns add "$dev_ns"
    ip link add "${tag}vh" type veth peer name "${tag}vd"
    ip link set "${tag}vh" netns "$host_ns"
    ip link set "${tag}vd" netns "$dev_ns"
    ip -n "$host_ns" addr add 10.231.0.1/24 dev "${tag}vh"
    ip -n "$dev_ns" addr add 10.231.0.2/24 dev "${tag}vd"
    for ns in "$host_ns" "$dev_ns"; do ip -n "$ns" link set lo up; done
    ip -n "$host_ns" link set "${tag}vh" up
    ip -n "$dev_ns" link set "${tag}vd" up
    ip -n "$host_ns" route add default dev "${tag}vh"
    ip -n "$dev_ns" route add default dev "${tag}vd"
    ;;
  down)
    ip netns del "$host_ns" 2>/dev/null || true
    ip netns del "$dev_ns" 2>/dev/null || true
    ;;
  *) echo "usage: $0 up|down TAG" >&2; exit 2 ;;
esac
