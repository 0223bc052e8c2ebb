#!/usr/bin/env bash
# Every device that answers, over the real limited broadcast address,
# isolated from every real network (scripts/netns-lab.sh): the window and
# pathlume-cli on their default endpoints in the program's namespace, the
# simulated devices in the other.
#   - fifteen devices, two of them sharing a serial number and two others a
#     MAC address: the window lists fifteen rows in order and counts them;
#     pathlume-cli lists them all, refuses to guess which one "get SERIAL" or
#     "get MAC" means and finds each of the first two by its MAC address;
#   - the window with pathlume-cli runs beside it, all on the reply port at
#     once: each lists every device;
#   - a thousand devices answering at once: the window and pathlume-cli list
#     every one, five times each.
# Needs root; skips (77) without.
#   devices_e2e.sh CLIENT CLI DEVSIM
set -euo pipefail
client="$1"
cli="$2"
devsim="$3"
tag="pld$$"
sim_pid=""
pids=()
work="$(mktemp -d)"
. "$(dirname "$0")/../support/e2e.sh"

cleanup() {
  end_pids "$sim_pid" "${pids[@]}"
  "$lab" down "$tag"
  rm -rf "$work"
}
trap cleanup EXIT

lab_up "$tag"

in_host() { ip netns exec "${tag}h" "$@"; }
cli_run() { # cli_run NAME ARGS...: pathlume-cli in the host namespace; its exit status
            # in $work/NAME.rc, stdout in $work/NAME.out, stderr in $work/NAME.err
  local name="$1"; shift
  local rc=0
  in_host timeout 60 "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  echo "$rc" >"$work/$name.rc"
}
rc_of() { cat "$work/$1.rc"; }
simulate() {   # simulate ARGS...: (re)starts the simulator in the device namespace
  end_pids "$sim_pid"
  ip netns exec "${tag}d" "$devsim" "$@" --time-limit 120 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  sleep 0.5
}

# --- Fifteen devices, two sharing a serial number, two sharing a MAC -------
shared=SN55555555
sharedmac=02C0EEAAAAAA
{
  printf '[device]\nSERIAL_NUM = %s\n[device]\nSERIAL_NUM = %s\n' "$shared" "$shared"
  printf '[device]\nMAC = %s\n[device]\nMAC = %s\n' "$sharedmac" "$sharedmac"
  for _ in $(seq 11); do printf '[device]\n'; done
} >"$work/devices.txt"
simulate --config "$work/devices.txt" --seed 31

window_rc=0
in_host env QT_QPA_PLATFORM=offscreen timeout 60 "$client" --find 15 --shared "$shared" \
  >"$work/window.out" 2>&1 || window_rc=$?
cat "$work/window.out"
check "the window lists fifteen rows, in order, counted" [ "$window_rc" -eq 0 ]

cli_run find find --timeout 1 --format csv
check "pathlume-cli find exits 0" [ "$(rc_of find)" -eq 0 ]
check "pathlume-cli lists fifteen devices" [ "$(tail -n +2 "$work/find.out" | wc -l)" -eq 15 ]
check "... both devices of the shared serial number" [ "$(grep -c "^$shared," "$work/find.out")" -eq 2 ]
check "... and says which serial number is shared" \
  grep -qx "pathlume-cli: Serial number $shared answered from 2 MAC addresses." "$work/find.err"
macs=$(grep "^$shared," "$work/find.out" | cut -d, -f2 | tr -d '\r')
mac1=$(echo "$macs" | sed -n 1p)
mac2=$(echo "$macs" | sed -n 2p)

cli_run get-shared get "$shared"
cat "$work/get-shared.err"
check "get of a shared serial number refuses (exit 2)" [ "$(rc_of get-shared)" -eq 2 ]
check "... naming both MAC addresses and the SERIAL@MAC form" \
  grep -q "$mac1, $mac2\. Name one as SERIAL@MAC, for instance $shared@$mac1\.$" "$work/get-shared.err"
for mac in "$mac1" "$mac2"; do
  cli_run "get-$mac" get "$mac"
  check "get $mac finds that device" [ "$(rc_of "get-$mac")" -eq 0 ]
  check "... with its own configuration" grep -qx "MAC = $mac" "$work/get-$mac.out"
done
cli_run get-named get "$shared@$mac2"
check "get SERIAL@MAC reads the one named" grep -qx "MAC = $mac2" "$work/get-named.out"
cli_run get-sharedmac get "$sharedmac"
cat "$work/get-sharedmac.err"
check "get of a MAC address with two serial numbers refuses (exit 2)" [ "$(rc_of get-sharedmac)" -eq 2 ]
check "... naming both serial numbers" \
  grep -q "^pathlume-cli: MAC address $sharedmac answered with 2 serial numbers: SN" "$work/get-sharedmac.err"

# --- The window and two pathlume-cli runs on the reply port at once ------------
ready="$work/ready"
in_host env QT_QPA_PLATFORM=offscreen timeout 60 "$client" --find 15 --timeout 3 --ready "$ready" \
  >"$work/beside.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$ready" ] && break; sleep 0.1; done
check "the window is open and finding" [ -e "$ready" ]
cli_run beside1 find --timeout 1 --format csv &
pids+=($!)
cli_run beside2 find --timeout 1 --format csv
wait "${pids[1]}" || true
window_rc=0
wait "${pids[0]}" || window_rc=$?
pids=()
cat "$work/beside.out"
check "the window beside them lists every device" [ "$window_rc" -eq 0 ]
for name in beside1 beside2; do
  cat "$work/$name.err"
  check "pathlume-cli beside the window exits 0" [ "$(rc_of "$name")" -eq 0 ]
  check "... and lists every device" [ "$(tail -n +2 "$work/$name.out" | wc -l)" -eq 15 ]
done

# --- A thousand devices answering at once, five times ---------------------
simulate --devices 1000 --seed 21
for run in 1 2 3 4 5; do
  cli_run "burst$run" find --timeout 0 --format csv
  lines=$(tail -n +2 "$work/burst$run.out" | wc -l)
  check "pathlume-cli run $run lists 1000 devices (got $lines)" [ "$lines" -eq 1000 ]
  check "... without a word of loss" [ ! -s "$work/burst$run.err" ]
done
window_rc=0
in_host env QT_QPA_PLATFORM=offscreen timeout 120 "$client" --find 1000 --runs 5 --timeout 0 \
  >"$work/window-burst.out" 2>&1 || window_rc=$?
grep -E "^run [0-9]+: |FAILED|passed" "$work/window-burst.out"
check "the window lists 1000 devices in each of five runs" [ "$window_rc" -eq 0 ]

[ "$failures" -eq 0 ]
