#!/usr/bin/env bash
# A private network for broadcast tests and demos, isolated from every real
# network. Namespace "<tag>h" is the program's; devices live in "<tag>d" (and
# "<tag>e"). Needs root.
#   netns-lab.sh up TAG [SHAPE]   create (exit 77 when namespaces cannot be made)
#   netns-lab.sh down TAG         remove
# SHAPE:
#   one      (default) one veth link h--d, 10.231.0.0/24; the default routes
#            lie on it, so the limited broadcast 255.255.255.255 stays on it.
#   two      also a second link h--e, 10.232.0.0/24. The program's default
#            route is only via the first link: a plain broadcast never
#            reaches "<tag>e", a broadcast sent per interface does.
#   bridged  two links from h, 10.231.0.0/24 and 10.232.0.0/24, both into
#            "<tag>d", whose bridge joins them: a device reached on both.
set -euo pipefail
action="${1:-}"
tag="${2:-}"
shape="${3:-one}"
[ -n "$tag" ] || { echo "usage: $0 up|down TAG [one|two|bridged]" >&2; exit 2; }
host_ns="${tag}h"
dev_ns="${tag}d"
dev2_ns="${tag}e"

# link NAME_H NS_H NAME_D NS_D: a veth pair between two namespaces, both ends up.
link() {
  ip link add "$1" type veth peer name "$3"
  ip link set "$1" netns "$2"
  ip link set "$3" netns "$4"
  ip -n "$2" link set "$1" up
  ip -n "$4" link set "$3" up
}

case "$action" in
  up)
    case "$shape" in one|two|bridged) ;; *) echo "unknown shape $shape" >&2; exit 2 ;; esac
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
    for ns in "$host_ns" "$dev_ns"; do ip -n "$ns" link set lo up; done
    link "${tag}vh" "$host_ns" "${tag}vd" "$dev_ns"
    ip -n "$host_ns" addr add 10.231.0.1/24 dev "${tag}vh"
    ip -n "$host_ns" route add default dev "${tag}vh"
    case "$shape" in
      one)
        ip -n "$dev_ns" addr add 10.231.0.2/24 dev "${tag}vd"
        ip -n "$dev_ns" route add default dev "${tag}vd"
        ;;
      two)
        ip -n "$dev_ns" addr add 10.231.0.2/24 dev "${tag}vd"
        ip -n "$dev_ns" route add default dev "${tag}vd"
        ip netns add "$dev2_ns"
        ip -n "$dev2_ns" link set lo up
        link "${tag}wh" "$host_ns" "${tag}wd" "$dev2_ns"
        ip -n "$host_ns" addr add 10.232.0.1/24 dev "${tag}wh"
        ip -n "$dev2_ns" addr add 10.232.0.2/24 dev "${tag}wd"
        ip -n "$dev2_ns" route add default dev "${tag}wd"
        ;;
      bridged)
        link "${tag}wh" "$host_ns" "${tag}wd" "$dev_ns"
        ip -n "$host_ns" addr add 10.232.0.1/24 dev "${tag}wh"
        ip -n "$dev_ns" link add "${tag}br" type bridge forward_delay 0
        ip -n "$dev_ns" link set "${tag}vd" master "${tag}br"
        ip -n "$dev_ns" link set "${tag}wd" master "${tag}br"
        ip -n "$dev_ns" link set "${tag}br" up
        ip -n "$dev_ns" addr add 10.231.0.2/24 dev "${tag}br"
        ip -n "$dev_ns" addr add 10.232.0.2/24 dev "${tag}br"
        ip -n "$dev_ns" route add default dev "${tag}br"
        ;;
    esac
    ;;
  down)
    for ns in "$host_ns" "$dev_ns" "$dev2_ns"; do ip netns del "$ns" 2>/dev/null || true; done
    ;;
  *) echo "usage: $0 up|down TAG [one|two|bridged]" >&2; exit 2 ;;
esac
