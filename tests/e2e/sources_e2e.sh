#!/usr/bin/env bash
# Where each reply came from, over two private links (scripts/netns-lab.sh
# "two"): three simulated devices behind the first link (10.231.0.2), two
# behind the second (10.232.0.2), each reporting an IP address of its own
# (192.168.77.x) that is not the one it answers from. `find` must give each
# device's source address, port and arrival interface in JSON, CSV and the
# table; and a `find --interface` started beside a Find on every interface
# must list only the devices of its own link, though the other program's
# Find is answered on both. Needs root; skips (77) without.
#   sources_e2e.sh CLI DEVSIM
set -euo pipefail
cli="$1"
devsim="$2"
tag="pls$$"
pids=()
work="$(mktemp -d)"
export XDG_STATE_HOME="$work/state"
. "$(dirname "$0")/../support/e2e.sh"

cleanup() {
  end_pids "${pids[@]}"
  "$lab" down "$tag"
  rm -rf "$work"
}
trap cleanup EXIT

lab_up "$tag" two
ip netns exec "${tag}d" "$devsim" --devices 3 --seed 21 --time-limit 60 >"$work/simd.log" 2>&1 &
pids+=($!)
ip netns exec "${tag}e" "$devsim" --devices 2 --seed 22 --time-limit 60 >"$work/sime.log" 2>&1 &
pids+=($!)
sleep 0.5

run 0 json find --timeout 1 --format json
run 0 csv find --timeout 1 --format csv
run 0 table find --timeout 1

# JSON: every device once, with the one source and interface of its link.
check "JSON gives each device its source address, port and interface" python3 - "$work/json.out" "$tag" <<'PY'
import json, sys
devices = json.load(open(sys.argv[1]))
tag = sys.argv[2]
want = {"10.231.0.2": tag + "vh", "10.232.0.2": tag + "wh"}
links = sorted(d["sources"][0]["address"] for d in devices)
assert links == ["10.231.0.2"] * 3 + ["10.232.0.2"] * 2, links
for d in devices:
    assert len(d["sources"]) == 1, d
    s = d["sources"][0]
    assert s["port"] == 22093 and s["interface"] == want[s["address"]], d
    assert d["ip"] != s["address"], d
PY

# CSV: the same in its three fields.
check "CSV gives each device its source address, port and interface" python3 - "$work/csv.out" "$tag" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
tag = sys.argv[2]
got = sorted((r["source_address"], r["source_port"], r["interface"]) for r in rows)
assert got == [("10.231.0.2", "22093", tag + "vh")] * 3 + [("10.232.0.2", "22093", tag + "wh")] * 2, got
PY

check "the table says each device answered from an address that is not its IP" \
  [ "$(grep -c "(not its IP)" "$work/table.out")" -eq 5 ]

# Two programs at once: one on every interface, one on the first link only.
# The devices of the second link answer the first program's Find by
# broadcast, and that answer reaches both programs' sockets.
for round in 1 2 3; do
  ip netns exec "${tag}h" timeout 30 "$cli" find --timeout 1 --format csv >"$work/all.$round" 2>&1 &
  all=$!
  ip netns exec "${tag}h" timeout 30 "$cli" find --timeout 1 --format csv --interface "${tag}vh" \
    >"$work/one.$round" 2>"$work/one.$round.err" &
  one=$!
  wait "$all" || true
  wait "$one" || true
  check "round $round: find --interface lists only its own link's devices" \
    [ "$(grep -c ",10.231.0.2,22093,${tag}vh" "$work/one.$round")" -eq 3 ] 
  check "round $round: find --interface lists nothing from the other link" \
    [ "$(grep -c "10.232.0.2" "$work/one.$round")" -eq 0 ]
  check "round $round: the Find on every interface lists both links" \
    [ "$(grep -c ",22093," "$work/all.$round")" -eq 5 ]
done

if [ "$failures" -ne 0 ]; then
  for f in "$work"/*.out "$work"/*.err "$work"/one.* "$work"/all.*; do echo "--- $f"; cat "$f"; done
  exit 1
fi
