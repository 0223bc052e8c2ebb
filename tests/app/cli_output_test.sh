#!/usr/bin/env bash
# pathlume-cli's own output failures, without any network: a full disk and a
# closed standard output fail the run with status 1 and the cause.
#   cli_output_test.sh CLI
set -uo pipefail
cli="$1"
failures=0
expect() {   # expect WHAT WANT_RC WANT_ERR RC ERR
  if [ "$4" -eq "$2" ] && [ "$5" = "$3" ]; then echo "ok: $1"
  else echo "FAILED: $1 (got $4: $5)"; failures=$((failures + 1)); fi
}
err=$("$cli" help 2>&1 >/dev/full); rc=$?
expect "help to a full disk" 1 "pathlume-cli: Cannot write standard output: No space left on device." "$rc" "$err"
err=$("$cli" --version 2>&1 >&-); rc=$?
expect "version to a closed standard output" 1 \
  "pathlume-cli: Cannot write standard output: Bad file descriptor." "$rc" "$err"
err=$("$cli" help load 2>&1 >/dev/null); rc=$?
expect "help load" 0 "" "$rc" "$err"
[ "$failures" -eq 0 ]
