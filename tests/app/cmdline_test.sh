#!/usr/bin/env bash
# The program's command line, run without any display: --help and --version
# answer and exit 0, any other argument is refused in one line with status 2,
# and no argument at all ends with the one-line display message and status 1.
#   cmdline_test.sh PROGRAM VERSION
set -u
prog=$1
version=$2
fails=0

# args | status | stdout must match (extended regex, whole output) | stderr lines
cases=(
  "--help|0|^Usage: .*pathlume \[options\].*-h, --help.*-v, --version|0"
  "-h|0|^Usage: .*pathlume \[options\]|0"
  "--version|0|^pathlume ${version//./\\.}$|0"
  "-v|0|^pathlume ${version//./\\.}$|0"
  "--help --version|0|^Usage: |0"
  "--bogus|2|^$|1"
  "printer.example|2|^$|1"
  "--version extra|2|^$|1"
  "-platform offscreen|2|^$|1"
  "|1|^$|1"
)

for c in "${cases[@]}"; do
  IFS='|' read -r args want_rc want_out want_err <<<"$c"
  out=$(mktemp) err=$(mktemp)
  # shellcheck disable=SC2086  # the arguments split on purpose
  timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog" $args >"$out" 2>"$err"
  rc=$?
  errlines=$(wc -l <"$err")
  if [ "$rc" != "$want_rc" ] || ! printf '%s\n' "$(tr '\n' ' ' <"$out" | sed 's/ $//')" | grep -Eq -- "$want_out" ||
     [ "$errlines" != "$want_err" ]; then
    echo "FAIL [$args]: status $rc (want $want_rc), stderr $errlines lines (want $want_err)"
    sed 's/^/  out: /' "$out"; sed 's/^/  err: /' "$err"
    fails=$((fails + 1))
  else
    echo "ok   [$args] -> $rc"
  fi
  rm -f "$out" "$err"
done
[ "$fails" -eq 0 ]
