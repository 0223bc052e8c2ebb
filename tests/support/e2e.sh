# Shared by the end-to-end scripts of tests/e2e, which source it once they
# have set tag (unique with $$) and work (their temporary folder):
#   . "$(dirname "$0")/../support/e2e.sh"
# It sets lab (scripts/netns-lab.sh) and failures=0, and gives:
#   end_pids PID...        ends processes this script started, by their PIDs
#                          (empty ones skipped), and waits for them
#   lab_up TAG [SHAPE]     brings the namespace lab up, or exits with its
#                          status (77: skipped, without root)
#   check WHAT COMMAND...  "ok: WHAT" when the command succeeds, else
#                          "FAILED: WHAT", counted in failures
#   run EXIT NAME ARGS...  $cli ARGS in the program's namespace (${tag}h),
#                          at most 30 s: stdout in $work/NAME.out, stderr in
#                          $work/NAME.err, and a check that it exits EXIT
# shellcheck shell=bash
lab="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/netns-lab.sh"
failures=0

end_pids() {
  local pid
  for pid in "$@"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
}

lab_up() {
  local status=0
  "$lab" up "$@" || status=$?
  [ "$status" -eq 0 ] || exit "$status"
}

check() {
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

run() {
  local want="$1" name="$2"; shift 2
  local rc=0
  ip netns exec "${tag}h" timeout 30 "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  check "$name exits $want (got $rc)" [ "$rc" -eq "$want" ]
}
