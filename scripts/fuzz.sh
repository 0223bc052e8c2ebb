#!/usr/bin/env bash
# Runs the fuzz targets with coverage (clang, libFuzzer, ASan + UBSan):
#   scripts/fuzz.sh TARGET|all [SECONDS]      (default 60 s per target)
# TARGET: fuzz_receive, fuzz_parse, fuzz_record_line, fuzz_editconfig.
# Each run starts from the seeds in tests/fuzz/corpus/TARGET and grows a
# working corpus in build/fuzz/corpus/TARGET; a failing input is written to
# build/fuzz/artifacts/TARGET/ (copy it into tests/fuzz/corpus/TARGET/ as
# crash-<name> once the fault is mended, so the suite replays it for ever).
# FUZZ_JOBS=2 runs two targets at a time; FUZZ_NICE sets their niceness.
# Prints one summary line per target: runs, edges covered, result.
set -euo pipefail
cd "$(dirname "$0")/.."
all=(fuzz_receive fuzz_parse fuzz_record_line fuzz_editconfig)
which="${1:-all}"
seconds="${2:-60}"
if [ "$which" = all ]; then targets=("${all[@]}"); else targets=("$which"); fi
for t in "${targets[@]}"; do
  case " ${all[*]} " in *" $t "*) ;; *) echo "unknown target: $t" >&2; exit 2 ;; esac
done

PATHLUME_WITH_FUZZ=1 scripts/setup.sh
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATHLUME_FUZZ=ON \
  -DPATHLUME_WERROR=ON >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}"

run_one() {
  local t="$1" log="build/fuzz/logs/$1.log"
  mkdir -p "build/fuzz/corpus/$t" "build/fuzz/artifacts/$t" build/fuzz/logs
  local rc=0
  # The suppressions name leaks inside the system's own libraries only.
  LSAN_OPTIONS="suppressions=$PWD/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
    nice -n "${FUZZ_NICE:-10}" "build/fuzz/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="build/fuzz/artifacts/$t/" \
      "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  local last runs cov
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  if [ "$rc" = 0 ]; then
    printf '%-18s runs %-10s cov %-6s %ss  no findings\n' "$t" "${runs:-?}" "${cov:-?}" "$seconds"
  else
    printf '%-18s runs %-10s cov %-6s FAILED (status %s), see %s\n' "$t" "${runs:-?}" "${cov:-?}" "$rc" "$log"
  fi
  return "$rc"
}

status=0
jobs_max="${FUZZ_JOBS:-1}"
pids=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  if [ "${#pids[@]}" -ge "$jobs_max" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit "$status"
