#!/usr/bin/env bash
# End to end over the real limited broadcast address, isolated from every
# real network (scripts/netns-lab.sh): simulators in the device namespaces on
# their default endpoints, replying by broadcast; the program's window in the
# program's namespace on its default endpoints. One Seek must list every
# device, and every device namespace must receive the byte-exact Find once
# per link that reaches it. Needs root; skips (77) without.
#   broadcast_e2e.sh CLIENT DEVSIM [one|two|bridged]
set -euo pipefail
client="$1"
devsim="$2"
shape="${3:-one}"
tag="ple$$"
pids=()
logs=()
state="$(mktemp -d)"   # the window's journal of writes, never the user's
. "$(dirname "$0")/../support/e2e.sh"

# The Find request: header (magic, direction 0, command 1) and the terminator.
find_hex="000DAC000DAC00010000002A454E442A203D200D0A"

cleanup() {
  end_pids "${pids[@]}"
  "$lab" down "$tag"
  rm -f "${logs[@]}"
  rm -rf "$state"
}
trap cleanup EXIT

# sim NS DEVICES SEED: a simulator in a device namespace.
sim() {
  local log
  log="$(mktemp)"
  logs+=("$log")
  ip netns exec "$1" "$devsim" --devices "$2" --seed "$3" --log-bytes --time-limit 60 >"$log" 2>&1 &
  pids+=($!)
}

lab_up "$tag" "$shape"
status=0

# Per shape: devices listed, interfaces sent on, Finds each namespace gets.
case "$shape" in
  one)     sim "${tag}d" 3 11; devices=3; interfaces=1; finds=(1) ;;
  two)     sim "${tag}d" 3 11; sim "${tag}e" 2 12; devices=5; interfaces=2; finds=(1 1) ;;
  bridged) sim "${tag}d" 2 13; devices=2; interfaces=2; finds=(2) ;;
  *) echo "unknown shape $shape" >&2; exit 2 ;;
esac
sleep 0.5

ip netns exec "${tag}h" env QT_QPA_PLATFORM=offscreen XDG_STATE_HOME="$state" timeout 60 "$client" "$devices" "$interfaces" \
  || status=$?

for i in "${!logs[@]}"; do
  echo "--- simulator log $((i + 1))"
  cat "${logs[$i]}"
  any=$(grep -c "^request from .*: 000DAC000DAC0001" "${logs[$i]}" || true)
  exact=$(grep -c "^request from .*: ${find_hex}\$" "${logs[$i]}" || true)
  if [ "$any" -eq "${finds[$i]}" ] && [ "$exact" -eq "${finds[$i]}" ]; then
    echo "ok: simulator $((i + 1)) received ${finds[$i]} byte-exact Find(s)"
  else
    echo "FAILED: simulator $((i + 1)) received $any Find(s), $exact byte-exact; expected ${finds[$i]}"
    status=1
  fi
done
exit "$status"
