#!/usr/bin/env bash
# Measures pathlume-cli history over a long journal (Release build): a
# journal of N entries (100,000 unless given) written as the programs write
# them, each a whole configuration before and after its write, to 20
# devices; then the time and peak memory (/usr/bin/time -v) of history as a
# table, as JSON and for one device, each beside a plain `wc -l` of the same
# file in the same run. Best of 3. With BEFORE set to another pathlume-cli
# (an earlier build kept aside), that one is measured in the same run too.
#   [BEFORE=path/to/pathlume-cli] scripts/measure-history.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
n="${1:-100000}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_BENCH=ON \
  -DPATHLUME_BUILD_TESTS=OFF -DPATHLUME_BUILD_UI=ON >/dev/null
cmake --build build/bench --target pathlume-cli >/dev/null
cli="$PWD/build/bench/pathlume-cli"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export XDG_STATE_HOME="$out/state"
mkdir -m 700 "$XDG_STATE_HOME" "$XDG_STATE_HOME/pathlume"
journal="$XDG_STATE_HOME/pathlume/writes.jsonl"

awk -v n="$n" 'BEGIN {
  split("DEV VER MAC ENET_SPD IP_CUR DHCP IP SUBNET_MASK GATEWAY IP_DFLT SNMP_SERVER " \
        "SNMP_COMMUNITY SNMP_PORT SNMP_USER SNMP_PASSWORD PRNT_PORT PRNT_RCV_TMO MANUFACTURER " \
        "HOST_NAME SERIAL_NUM", keys, " ")
  for (i = 1; i <= n; i++) {
    d = i % 20
    serial = sprintf("SN%06d", d); mac = sprintf("02C0EE32E4%02X", d)
    split("PS-910|2.14.7|" mac "|0|192.168.000.0" d "|0|192.168.0." d "|255.255.255.0|192.168.0.254|" \
          "192.168.0.1|public-snmp|public|161|admin|secret|9100|300|Pathlume Devices Inc|" \
          "printer-" i - 1 "|" serial, v, "|")
    before = ""; written = ""
    for (k = 1; k <= 20; k++) {
      w = v[k]
      if (keys[k] == "HOST_NAME") w = "printer-" i
      if (keys[k] == "PRNT_PORT" && i % 3 == 0) w = 9101
      before = before (k > 1 ? ", " : "") "{\"key\": \"" keys[k] "\", \"value\": \"" v[k] "\"}"
      written = written (k > 1 ? ", " : "") "{\"key\": \"" keys[k] "\", \"value\": \"" w "\"}"
    }
    printf "{\"time\": \"2026-05-01T09:%02d:%02dZ\", \"program\": \"pathlume-cli\", \"action\": \"set\", " \
           "\"serial\": \"%s\", \"mac\": \"%s\", \"before\": [%s], \"written\": [%s], " \
           "\"outcome\": \"verified\", \"not_taken\": []}\n", (i / 60) % 60, i % 60, serial, mac, before, written
  }
}' >"$journal"
chmod 600 "$journal"

# measure NAME COMMAND...: best of 3 of the elapsed seconds and the peak
# resident memory in MB.
measure() {
  local name="$1" best_s="" best_kb="" s kb
  shift
  for _ in 1 2 3; do
    /usr/bin/time -v "$@" >/dev/null 2>"$out/time" </dev/null
    s=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); t = 0; for (i = 1; i <= n; i++) t = t * 60 + p[i]; print t }' "$out/time")
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$out/time")
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
    if [ -z "$best_kb" ] || [ "$kb" -lt "$best_kb" ]; then best_kb=$kb; fi
  done
  printf '%-34s %7.2f s %8.1f MB\n' "$name" "$best_s" "$(awk -v k="$best_kb" 'BEGIN { print k / 1024 }')"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "journal: $(wc -l <"$journal") entries, $(( $(stat -c %s "$journal") / 1048576 )) MB"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "wc -l (baseline)" wc -l "$journal"
measure "history" "$cli" history
measure "history --format json" "$cli" history --format json
measure "history SN000007 (one device)" "$cli" history SN000007
if [ -n "${BEFORE:-}" ]; then
  measure "before: history" "$BEFORE" history
  measure "before: history --format json" "$BEFORE" history --format json
  measure "before: history SN000007" "$BEFORE" history SN000007
  for args in "" "--format json" "SN000007"; do
    # shellcheck disable=SC2086  # the arguments are meant to split
    cmp -s <("$BEFORE" history $args 2>&1) <("$cli" history $args 2>&1) ||
      echo "history $args: the output differs from BEFORE's"
  done
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
