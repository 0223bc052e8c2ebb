#!/usr/bin/env bash
# pathlume-cli end to end over the real limited broadcast address, isolated
# from every real network (scripts/netns-lab.sh): seventeen simulated devices
# in one namespace (fifteen generated, two from a device file with records
# zero-padded, empty or missing), the program on its default endpoints in the
# other. Every simulated device refuses PRNT_PORT records. Needs root; skips
# (77) without.
#   cli_e2e.sh CLI DEVSIM
set -euo pipefail
cli="$1"
devsim="$2"
tag="plc$$"
sim_pid=""
holder_pid=""
work="$(mktemp -d)"
simlog="$work/sim.log"
export XDG_STATE_HOME="$work/state"   # the writes' journal, never the user's
. "$(dirname "$0")/../support/e2e.sh"

cleanup() {
  end_pids "$sim_pid" "$holder_pid"
  "$lab" down "$tag"
  rm -rf "$work"
}
trap cleanup EXIT

lab_up "$tag"

setconfigs() { grep -c '^setconfig' "$simlog" || true; }

{
  for _ in $(seq 15); do echo "[device]"; done
  printf '[device]\nSERIAL_NUM = ZQ-PADDED\nIP = 192.168.000.010\nIP_CUR = 192.168.0.10\n'
  printf '[device]\nSERIAL_NUM = ZQ-MISSING\nGATEWAY =\nomit IP_DFLT MANUFACTURER\n'
} >"$work/devices.txt"
ip netns exec "${tag}d" "$devsim" --config "$work/devices.txt" --seed 12 --refuse PRNT_PORT \
  --time-limit 60 >"$simlog" 2>&1 &
sim_pid=$!
sleep 0.5

# find: all seventeen, as JSON, sorted by serial number; stdout holds data only.
run 0 find find --timeout 1 --format json
check "find lists 17 devices" [ "$(grep -c '"serial": ' "$work/find.out")" -eq 17 ]
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
check "the refused key is named on stderr" grep -qx "pathlume-cli: Device did not take: PRNT_PORT." \
  "$work/set-refused.err"

# Validation: nothing is sent.
before=$(setconfigs)
run 2 set-invalid set "$serial1" "HOST_NAME=日本語-héllo"
check "the invalid value's field is named" grep -q "in Host name" "$work/set-invalid.err"
# A number is read whole: 64 digits are refused, not cut to the 63 that
# would be 30.
run 2 set-long set "$serial1" "PRNT_RCV_TMO=$(printf '%064d' 300)"
check "an over-long number is refused with its range" grep -qx \
  "pathlume-cli: PRNT_RCV_TMO: Enter an integer between 30 and 65535." "$work/set-long.err"
run 2 timeout-negative set "$serial1" HOST_NAME=never --timeout -1
check "a negative timeout is refused" grep -q -- "--timeout takes whole seconds from 0 to 120" \
  "$work/timeout-negative.err"
run 2 mac-13 set "$serial1@${mac1}0" HOST_NAME=never
check "a MAC of 13 hexadecimal digits is refused, not cut" grep -q "is not 12 hexadecimal digits" \
  "$work/mac-13.err"
run 0 set-dry set "$serial1" HOST_NAME=dry-run-name --dry-run
check "dry run shows the change" grep -qx "HOST_NAME: cli-lobby -> dry-run-name" "$work/set-dry.out"
sleep 0.2
check "invalid values and a dry run write nothing" [ "$(setconfigs)" -eq "$before" ]

# An address is four decimal numbers: anything else is refused, nothing sent.
before=$(setconfigs)
run 2 set-ip-short set "$serial1" IP=10
check "a short address is refused with the key named" grep -qx \
  "pathlume-cli: IP: Enter an IPv4 address as four numbers from 0 to 255 separated by dots." \
  "$work/set-ip-short.err"
sleep 0.2
check "... and nothing is written" [ "$(setconfigs)" -eq "$before" ]

# A write changes only what was asked: a zero-padded address goes back as the
# same address, records the device lacks or holds empty are not written.
run 0 set-padded set ZQ-PADDED HOST_NAME=padded-ok
check "the zero-padded device's write is verified" grep -qx "Configuration verified." \
  "$work/set-padded.out"
run 0 get-padded get ZQ-PADDED
check "its address is the same address" grep -qx "IP = 192.168.0.10" "$work/get-padded.out"
run 0 set-missing set ZQ-MISSING HOST_NAME=missing-ok
check "the write to a device lacking records is verified" grep -qx "Configuration verified." \
  "$work/set-missing.out"
written=$(grep '^setconfig .*/ZQ-MISSING' "$simlog" | tail -n 1)
check "it carried HOST_NAME" grep -q ' HOST_NAME' <<<"$written"
for key in IP_DFLT MANUFACTURER GATEWAY; do
  check "it carried no $key" bash -c "! grep -q ' $key\\b' <<<\"\$1\"" _ "$written"
done

# save on one device, load on another: the writable values are copied, but
# the other device keeps its address and name unless --with-identity says so.
run 0 save save "$serial1" "$work/saved.txt"
check "save writes the host name" grep -qx "HOST_NAME = cli-lobby" "$work/saved.txt"
run 0 load-kept load "$serial2" "$work/saved.txt"
check "load says the identity was kept" grep -qx \
  "pathlume-cli: Kept this device's IP and HOST_NAME; --with-identity writes them too." \
  "$work/load-kept.err"
check "... and changes neither" bash -c '! grep -q "^IP:\|^HOST_NAME:" "$1"' _ "$work/load-kept.out"
run 0 load load "$serial2" "$work/saved.txt" --with-identity
run 0 save-copy save "$serial2" "$work/copy.txt"
check "load copied every writable value" cmp -s <(grep -v '^#' "$work/saved.txt") \
  <(grep -v '^#' "$work/copy.txt")
before=$(setconfigs)
run 0 load-again load "$serial2" "$work/saved.txt" --with-identity
check "a load with nothing to change writes nothing" grep -qx "Nothing to change." "$work/load-again.out"
check "... and sends no write" [ "$(setconfigs)" -eq "$before" ]

# One named interface: the lab's link works, a missing one is a transport failure.
run 0 interface find --timeout 0 --format csv --interface "${tag}vh"
check "the named interface reaches every device" [ "$(wc -l <"$work/interface.out")" -eq 18 ]
run 4 no-interface find --timeout 0 --interface "${tag}none"
check "the missing interface is named" grep -q "no broadcast interface ${tag}none is up" \
  "$work/no-interface.err"

# The device port held by another program that does not share it: a
# transport failure.
ip netns exec "${tag}h" "$devsim" --devices 0 --exclusive --listen 0.0.0.0:22093 --time-limit 20 \
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
