#!/usr/bin/env bash
# The journal of writes end to end, over the real limited broadcast address in
# private network namespaces (scripts/netns-lab.sh): pathlume-cli sets two keys
# of a simulated device, the real window writes its host name through the
# form, history shows both writes with before -> after, and restore of the
# CLI's write gives the two keys back on the simulator (read from its state
# file) while the window's host name stays, journaled as a restore. Then a
# damaged line is skipped and counted, a link or a FIFO at the journal is
# refused, and a journal in a read-only folder (the program run as nobody)
# is told while the write goes on. Needs root;
# skips (77) without.
#   journal_e2e.sh CLI WINDOW_CLIENT DEVSIM
set -euo pipefail
cli="$1"
client="$2"
devsim="$3"
tag="plj$$"
sim_pid=""
work="$(mktemp -d)"
readonly_state="$(mktemp -d)"
state="$work/state.txt"   # what the simulated devices hold
export XDG_STATE_HOME="$work/xdg"
journal="$XDG_STATE_HOME/pathlume/writes.jsonl"
. "$(dirname "$0")/../support/e2e.sh"

cleanup() {
  end_pids "$sim_pid"
  "$lab" down "$tag"
  rm -rf "$work" "$readonly_state"
}
trap cleanup EXIT

lab_up "$tag"

# value FILE SERIAL KEY: the key's value in the device block of that serial number.
value() {
  awk -v serial="$2" -v key="$3" '
    /^\[device\]$/ { if (mine) exit; n = 0; next }
    { block[++n] = $0 }
    $0 == "SERIAL_NUM = " serial { mine = 1 }
    END { if (mine) for (i = 1; i <= n; i++) if (index(block[i], key " = ") == 1) print substr(block[i], length(key) + 4) }
  ' "$1"
}

ip netns exec "${tag}d" "$devsim" --devices 3 --seed 21 --state-file "$state" --time-limit 90 \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
sleep 0.5
cp "$state" "$work/initial.txt"

# The window writes the first row, the lowest serial number; so does this.
run 0 find find --timeout 1 --format csv
serial=$(sed -n 2p "$work/find.out" | cut -d, -f1)
tmo=$(value "$work/initial.txt" "$serial" PRNT_RCV_TMO)
gateway=$(value "$work/initial.txt" "$serial" GATEWAY)
host=$(value "$work/initial.txt" "$serial" HOST_NAME)
check "the device's values are known" test -n "$serial" -a -n "$tmo" -a -n "$gateway" -a -n "$host"

run 0 set set "$serial" PRNT_RCV_TMO=300 GATEWAY=10.231.0.254
check "the simulator holds the CLI's PRNT_RCV_TMO" [ "$(value "$state" "$serial" PRNT_RCV_TMO)" = 300 ]
check "the simulator holds the CLI's GATEWAY" [ "$(value "$state" "$serial" GATEWAY)" = 10.231.0.254 ]

ip netns exec "${tag}h" env QT_QPA_PLATFORM=offscreen timeout 60 "$client" 3 1 >"$work/window.out" 2>&1 ||
  { cat "$work/window.out"; check "the window's write" false; }
check "the simulator holds the window's host name" [ "$(value "$state" "$serial" HOST_NAME)" = e2e-renamed ]

# history: both writes, newest first, each with what it changed.
run 0 history history "$serial"
cat "$work/history.out"
row2=$(grep -n "^2 .* $serial .*  pathlume  *edit  *verified" "$work/history.out" | cut -d: -f1 || true)
row1=$(grep -n "^1 .* $serial .*  pathlume-cli  *set  *verified" "$work/history.out" | cut -d: -f1 || true)
check "history lists the window's write, then the CLI's" test "${row2:-9}" -lt "${row1:-0}"
check "... the window's change" grep -qx " *HOST_NAME: $host -> e2e-renamed" "$work/history.out"
check "... the CLI's changes" grep -qx " *PRNT_RCV_TMO: $tmo -> 300" "$work/history.out"
check "... both of them" grep -qx " *GATEWAY: $gateway -> 10.231.0.254" "$work/history.out"

# restore without --entry would undo the newest, the window's; a dry run shows it.
cp "$state" "$work/before-dry.txt"
run 0 dry restore "$serial" --dry-run
check "the newest entry is the window's" grep -qx "HOST_NAME: e2e-renamed -> $host" "$work/dry.out"
check "a dry run writes nothing" cmp -s "$state" "$work/before-dry.txt"

# restore of the CLI's write: its two keys come back, nothing else changes.
run 0 restore restore "$serial" --entry 1
cat "$work/restore.out"
check "restore is verified" grep -qx "Configuration verified." "$work/restore.out"
check "the simulator has PRNT_RCV_TMO back" [ "$(value "$state" "$serial" PRNT_RCV_TMO)" = "$tmo" ]
check "the simulator has GATEWAY back" [ "$(value "$state" "$serial" GATEWAY)" = "$gateway" ]
check "the window's host name stays, and nothing else differs" \
  diff <(grep -v "^HOST_NAME = e2e-renamed$" "$state") <(grep -v "^HOST_NAME = $host$" "$work/initial.txt")
run 0 history-after history "$serial" --format json
check "the restore is journaled as one" \
  grep -q "{\"entry\": 3, .*\"action\": \"restore\", \"restores\": 1, .*\"outcome\": \"verified\"" \
  "$work/history-after.out"

# A damaged line is skipped and counted; the journal goes on after it.
printf '{"time": "2026-' >>"$journal"
run 0 set-after-damage set "$serial" PRNT_PORT=9200
run 0 history-damaged history
check "the damaged line is counted" grep -qx \
  "pathlume-cli: Skipped 1 damaged line of $journal (line 4)." "$work/history-damaged.err"
check "the write after it is entry 5" grep -q "^5 .* $serial " "$work/history-damaged.out"

# A link planted at the journal, and a FIFO in its place: refused and told,
# nothing reaches the link's target, the FIFO is never waited on, and the
# write goes on all the same.
mv "$journal" "$work/journal-kept"
printf 'not the journal\n' >"$work/link-target"
ln -s "$work/link-target" "$journal"
run 0 set-linked set "$serial" PRNT_PORT=9202
check "a link at the journal is refused" grep -qx \
  "pathlume-cli: Cannot record this write in $journal: it is a symbolic link." "$work/set-linked.err"
check "... its target is untouched" [ "$(cat "$work/link-target")" = "not the journal" ]
check "... and the device has the write" [ "$(value "$state" "$serial" PRNT_PORT)" = 9202 ]
rm "$journal"
mkfifo "$journal"
run 0 set-fifo set "$serial" PRNT_PORT=9203
check "a FIFO at the journal is refused" grep -qx \
  "pathlume-cli: Cannot record this write in $journal: it is not a regular file." "$work/set-fifo.err"
rm "$journal"
mv "$work/journal-kept" "$journal"

# A journal in a read-only folder, for a user who cannot write there: told,
# and the write happens all the same.
chmod 0555 "$readonly_state"
if ip netns exec "${tag}h" setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" --version >/dev/null 2>&1; then
  rc=0
  ip netns exec "${tag}h" setpriv --reuid=65534 --regid=65534 --clear-groups \
    env XDG_STATE_HOME="$readonly_state" timeout 30 "$cli" set "$serial" PRNT_PORT=9201 \
    >"$work/readonly.out" 2>"$work/readonly.err" || rc=$?
  check "a write with an unwritable journal exits 0 (got $rc)" [ "$rc" -eq 0 ]
  check "... it is told" grep -qx \
    "pathlume-cli: Cannot record this write in $readonly_state/pathlume/writes.jsonl: Permission denied." \
    "$work/readonly.err"
  check "... and reported as usual" grep -qx "Configuration verified." "$work/readonly.out"
  check "... and the device has it" [ "$(value "$state" "$serial" PRNT_PORT)" = 9201 ]
else
  echo "skipped: the read-only journal (the program cannot run as nobody here)"
fi

# Another writer: a simulator that renames its device 300 ms after answering
# the first read. restore would undo that rename; it refuses, then --force
# restores. PRNT_PORT had no value before the write and is left as it is.
end_pids "$sim_pid"
sim_pid=""
printf '[device]\nSERIAL_NUM = ZQ-OTHER\nPRNT_PORT =\n' >"$work/other.txt"
ip netns exec "${tag}d" "$devsim" --config "$work/other.txt" --seed 22 --state-file "$state" \
  --fault change-after=300 HOST_NAME=colleague --fault-count 1 --time-limit 60 \
  >"$work/sim-other.log" 2>&1 &
sim_pid=$!
sleep 0.5
other_mac=$(value "$state" ZQ-OTHER MAC)
other_host=$(value "$state" ZQ-OTHER HOST_NAME)
run 0 other-set set "ZQ-OTHER@$other_mac" HOST_NAME=mine PRNT_PORT=9100
sleep 0.6
check "the other writer renamed the device" [ "$(value "$state" ZQ-OTHER HOST_NAME)" = colleague ]
entry=$(grep -c . "$journal")
run 3 other-restore restore "ZQ-OTHER@$other_mac"
check "restore names what it would undo" grep -qx \
  "pathlume-cli: HOST_NAME is colleague now, not mine as entry $entry wrote it. Nothing was restored; --force restores anyway." \
  "$work/other-restore.err"
check "... and the key that had no value" grep -qx \
  "pathlume-cli: PRNT_PORT had no value before entry $entry; left as it is." "$work/other-restore.err"
check "... and writes nothing" [ "$(value "$state" ZQ-OTHER HOST_NAME)" = colleague ]
run 0 other-force restore "ZQ-OTHER@$other_mac" --force
check "--force restores" [ "$(value "$state" ZQ-OTHER HOST_NAME)" = "$other_host" ]
check "... leaving PRNT_PORT as the write left it" [ "$(value "$state" ZQ-OTHER PRNT_PORT)" = 9100 ]

[ "$failures" -eq 0 ]
