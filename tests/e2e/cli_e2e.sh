#!/usr/bin/env bash
# pathlume-cli end to end over the real limited broadcast address, isolated
# from every real network (scripts/netns-lab.sh): fifteen simulated devices
# in one namespace, the program on its default endpoints in the other. Every
# simulated device refuses PRNT_PORT records. Needs root; skips (77) without.
#   cli_e2e.sh CLI DEVSIM
set -euo pipefail
cli="$1"
devsim="$2"
lab="$(dirname "$0")/../../scripts/netns-lab.sh"
tag="plc$$"
sim_pid=""
holder_pid=""
work="$(mktemp -d)"
simlog="$work/sim.log"

cleanup() {
  for pid in "$sim_pid" "$holder_pid"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
  "$lab" down "$tag"
  rm -rf "$work"
}
trap cleanup EXIT

status=0
"$lab" up "$tag" || status=$?
[ "$status" -eq 0 ] || exit "$status"

failures=0
check() {   # check WHAT COMMAND...: passes when the command succeeds
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
run() {     # run EXPECTED_EXIT NAME ARGS...: the program in the host namespace,
            # stdout in $work/NAME.out, stderr in $work/NAME.err
  local want="$1" name="$2"; shift 2
  local rc=0
  ip netns exec "${tag}h" timeout 30 "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  check "$name exits $want (got $rc)" [ "$rc" -eq "$want" ]
}
setconfigs() { grep -c '^setconfig' "$simlog" || true; }

ip netns exec "${tag}d" "$devsim" --devices 15 --seed 12 --refuse PRNT_PORT --time-limit 60 \
  >"$simlog" 2>&1 &
sim_pid=$!
sleep 0.5

# find: all fifteen, as JSON, sorted by serial number; stdout holds data only.
run 0 find find --timeout 1 --format json
check "find lists 15 devices" [ "$(grep -c '"serial": ' "$work/find.out")" -eq 15 ]
grep -o '"serial": "[^"]*"' "$work/find.out" >"$work/serials"
check "find output is sorted by serial number" cmp -s "$work/serials" <(sort "$work/serials")
check "nothing on stderr when it is not a terminal" [ ! -s "$work/find.err" ]
first=$(sed -n 's/.*"serial": "\([^"]*\)", "mac": "\([^"]*\)".*/\1 \2/p' "$work/find.out" | sed -n 1p)
second=$(sed -n 's/.*"serial": "\([^"]*\)", "mac": "\([^"]*\)".*/\1 \2/p' "$work/find.out" | sed -n 2p)
serial1=${first% *}; mac1=${first#* }
serial2=${second% *}; mac2=${second#* }

# get: by serial number and by MAC address, the same configuration.
run 0 get-serial get "$serial1" --format json
run 0 get-mac get "$mac1" --format json
check "get by serial and by MAC agree" cmp -s "$work/get-serial.out" "$work/get-mac.out"
check "get shows the configuration" grep -q "\"SERIAL_NUM\": \"$serial1\"" "$work/get-serial.out"
run 1 get-unknown get NO-SUCH-SERIAL --timeout 0
check "an unknown device is named" grep -q "NO-SUCH-SERIAL" "$work/get-unknown.err"

# set: a host name, written, read back and verified.
run 0 set-host set "$serial1" HOST_NAME=cli-lobby
check "set reports the verification" grep -qx "Configuration verified." "$work/set-host.out"
run 0 get-after get "$serial1@$mac1"
check "the device has the new host name" grep -qx "HOST_NAME = cli-lobby" "$work/get-after.out"

# A refused record: written, not verified, the key named.
run 3 set-refused set "$mac1" PRNT_PORT=9101
check "the refused key is named" grep -qx "Device did not take: PRNT_PORT." "$work/set-refused.out"

# Validation: nothing is sent.
before=$(setconfigs)
run 2 set-invalid set "$serial1" "HOST_NAME=日本語-héllo"
check "the invalid value's field is named" grep -q "in Host name" "$work/set-invalid.err"
run 0 set-dry set "$serial1" HOST_NAME=dry-run-name --dry-run
check "dry run shows the change" grep -qx "HOST_NAME: cli-lobby -> dry-run-name" "$work/set-dry.out"
sleep 0.2
check "invalid values and a dry run write nothing" [ "$(setconfigs)" -eq "$before" ]

# save on one device, load on another: the writable values are copied.
run 0 save save "$serial1" "$work/saved.txt"
check "save writes the host name" grep -qx "HOST_NAME = cli-lobby" "$work/saved.txt"
run 0 load load "$serial2" "$work/saved.txt"
run 0 save-copy save "$serial2" "$work/copy.txt"
check "load copied every writable value" cmp -s <(grep -v '^#' "$work/saved.txt") \
  <(grep -v '^#' "$work/copy.txt")
before=$(setconfigs)
run 0 load-again load "$serial2" "$work/saved.txt"
check "a load with nothing to change writes nothing" grep -qx "Nothing to change." "$work/load-again.out"
check "... and sends no write" [ "$(setconfigs)" -eq "$before" ]

# One named interface: the lab's link works, a missing one is a transport failure.
run 0 interface find --timeout 0 --format csv --interface "${tag}vh"
check "the named interface reaches every device" [ "$(wc -l <"$work/interface.out")" -eq 16 ]
run 4 no-interface find --timeout 0 --interface "${tag}none"
check "the missing interface is named" grep -q "no broadcast interface ${tag}none is up" \
  "$work/no-interface.err"

# The device port held by another program: a transport failure.
ip netns exec "${tag}h" "$devsim" --devices 0 --listen 0.0.0.0:22093 --time-limit 20 \
  >/dev/null 2>&1 &
holder_pid=$!
sleep 0.3
run 4 port-held find --timeout 0
check "the held port is named" \
  grep -qx "pathlume-cli: Cannot receive on UDP port 22093: Address already in use." \
  "$work/port-held.err"

echo "--- simulator log"
cat "$simlog"
[ "$failures" -eq 0 ]
