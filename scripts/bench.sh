#!/usr/bin/env bash
# Builds (Release) and runs every benchmark and measurement, then prints one
# table with the machine's description. Each figure stands beside a baseline
# taken in the same run. Takes about five minutes; window measurements run
# headless (offscreen) on loopback endpoints. docs/PERFORMANCE.md records the
# figures and how each is taken.
#   scripts/bench.sh            the table
#   scripts/bench.sh --raw      also every tool's own output
set -euo pipefail
cd "$(dirname "$0")/.."
raw=0
[ "${1:-}" = --raw ] && raw=1
PATHLUME_WITH_BENCH=1 scripts/setup.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_BENCH=ON \
  -DPATHLUME_BUILD_TESTS=OFF -DPATHLUME_BUILD_UI=ON >/dev/null
cmake --build build/bench -j2 >/dev/null
b=build/bench/bench
export QT_QPA_PLATFORM=offscreen
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then mkdir -m 700 "$out/xdg"; export XDG_RUNTIME_DIR="$out/xdg"; fi
show() { [ "$raw" = 1 ] && cat "$1" >&2 || true; }

"$b/protocol_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$out/bench.csv" 2>/dev/null
show "$out/bench.csv"
"$b/receive_measure" pipeline 5 >"$out/pipe"; show "$out/pipe"
ir() {
  valgrind --tool=callgrind --callgrind-out-file="$out/cg.$1" "$b/receive_measure" once "$1" >"$out/log.$1" 2>&1
  grep -m1 '^summary:' "$out/cg.$1" | awk '{print $2}'
}
ir0=$(ir 0); ir1=$(ir 1)
bytes=$(awk '/^bytes/{print $2}' "$out/log.1")
"$b/receive_measure" find 5 >"$out/find"; show "$out/find"
"$b/window_measure" latency 5 100 >"$out/lat" || true; show "$out/lat"
"$b/window_measure" stop 15 >"$out/stop"; show "$out/stop"
"$b/window_measure" burst 5 1000 >"$out/burst" || true; show "$out/burst"
"$b/window_measure" quiet 5 >"$out/quiet"; show "$out/quiet"
"$b/window_measure" startup 7 "$b/bare_dialog" >"$out/start"; show "$out/start"

num() { awk -v k="$2" 'index($0, k) { for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9.]+$/) { print $i; exit } }' "$1"; }
nth() { awk -v k="$2" -v n="$3" 'index($0, k) { c = 0; for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9.]+$/ && ++c == n) { print $i; exit } }' "$1"; }
parse_ns=$(awk -F, '/BM_ParseConfigText_median/ { printf "%.0f", $4; exit }' "$out/bench.csv")
parse_unit=$(awk -F, '/BM_ParseConfigText_median/ { print $5; exit }' "$out/bench.csv")

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')
mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
qt=$(pkg-config --modversion Qt6Widgets 2>/dev/null || echo "?")
cxx=$(c++ --version | head -1)
os=$(. /etc/os-release && echo "$PRETTY_NAME")

printf '\nPathlume performance, %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
printf 'machine: %s, %s cores, %s RAM; %s, kernel %s; Qt %s; %s; Release build\n\n' \
  "$cpu" "$(nproc)" "$mem" "$os" "$(uname -r)" "$qt" "$cxx"
row() { printf '%-44s %-22s %s\n' "$1" "$2" "$3"; }
row "figure" "value" "beside (same run)"
row "--------------------------------------------" "----------------------" "------------------------------"
row "receive pipeline (ring+reader+parser)" "$(num "$out/pipe" "pipeline  ") MB/s" \
    "memmem $(num "$out/pipe" "memmem baseline") MB/s, ratio $(num "$out/pipe" "ratio")"
row "instructions per byte (callgrind)" \
    "$(awk -v a="$ir1" -v b="$ir0" -v n="$bytes" 'BEGIN { printf "%.1f", (a - b) / n }')" \
    "one pass minus none, $bytes bytes"
row "parse of one full 21-record reply" "$parse_ns $parse_unit" "median of 5 repetitions"
row "reply-to-row latency p50 / p99" \
    "$(nth "$out/lat" "woken by" 1) / $(nth "$out/lat" "woken by" 2) ms" \
    "100 ms tick only $(nth "$out/lat" "tick only" 2) / $(nth "$out/lat" "tick only" 3) ms; median of 5 rounds"
row "Stop to Idle, median" "$(nth "$out/stop" "woken by" 1) ms" "100 ms tick only $(nth "$out/stop" "tick only" 2) ms"
row "1000 devices in 1 s: rows listed" "$(nth "$out/burst" "rows listed" 1)" \
    "tick only $(nth "$out/burst" "rows listed" 2), of $(nth "$out/burst" "rows listed" 3)"
row "1000 devices in 1 s: longest stall" "$(nth "$out/burst" "longest stall" 1) ms" \
    "tick only $(nth "$out/burst" "longest stall" 2) ms, bare QTreeWidget $(nth "$out/burst" "longest stall" 3) ms"
row "1000 devices in 1 s: CPU of the Find" "$(nth "$out/burst" "CPU of the Find" 1) ms" \
    "tick only $(nth "$out/burst" "CPU of the Find" 2) ms, bare QTreeWidget $(nth "$out/burst" "CPU of the Find" 3) ms, ratio $(nth "$out/burst" "CPU of the Find" 4)"
row "worker wake-ups, 4 s Find, 3 devices" "$(num "$out/find" "wake-ups")" "3 datagrams read"
row "worker CPU during the Find (thread clock)" "$(num "$out/find" "worker thread CPU") % of a core" ""
row "process CPU during the Find" "$(num "$out/find" "CPU during the Find") % of a core" \
    "idle $(num "$out/find" "CPU idle") %, above idle $(num "$out/find" "above idle") %"
row "the same Find through the window, above idle" "$(nth "$out/quiet" "woken by" 1) % of a core" \
    "tick only $(nth "$out/quiet" "tick only" 2) %; window idle $(num "$out/quiet" "window idle") %"
row "start-up to first paint" "$(nth "$out/start" "first paint" 1) ms" \
    "bare dialog $(nth "$out/start" "first paint" 2) ms, ratio $(nth "$out/start" "first paint" 3)"
row "resident memory after first paint" "$(nth "$out/start" "resident" 1) KiB" \
    "bare dialog $(nth "$out/start" "resident" 2) KiB, ratio $(nth "$out/start" "resident" 3)"
