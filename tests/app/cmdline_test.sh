#!/usr/bin/env bash
# The program's command line, run without any display: --help and --version
# answer and exit 0, the toolkit's standard options are taken as every
# program of the toolkit takes them, any other argument is refused in one
# line with status 2, and no argument at all ends with the one-line display
# message and status 1.
#   cmdline_test.sh PROGRAM VERSION
set -u
prog=$1
version=$2
fails=0
home=$(mktemp -d)   # settings written by the runs below stay here
trap 'rm -rf "$home"' EXIT

# args | status | stdout must match (extended regex, whole output) | stderr lines | seconds
# With seconds, the window runs (on the offscreen platform the arguments
# name) until SIGTERM after that long, and ends with status 0.
cases=(
  "--help|0|^Usage: .*pathlume \[options\].*-h, --help.*-v, --version|0|"
  "-h|0|^Usage: .*pathlume \[options\]|0|"
  "--version|0|^pathlume ${version//./\\.}$|0|"
  "-v|0|^pathlume ${version//./\\.}$|0|"
  "--help --version|0|^Usage: |0|"
  "--bogus|2|^$|1|"
  "printer.example|2|^$|1|"
  "--version extra|2|^$|1|"
  "-reverse --help|0|^Usage: |0|"
  "-style fusion --version|0|^pathlume ${version//./\\.}$|0|"
  "-session 1a2b3c --bogus|2|^$|1|"
  "-style|2|^$|1|"
  "-style fusion|1|^$|1|"
  "-style=fusion -reverse|1|^$|1|"
  "-platform offscreen|0|^$|0|2"
  "-platform offscreen -style fusion -reverse -session 1a2b3c -qwindowgeometry 300x200+10+10 --display :99|0|^$|0|2"
  "-platform offscreen --bogus|2|^$|1|"
  "|1|^$|1|"
)

for c in "${cases[@]}"; do
  IFS='|' read -r args want_rc want_out want_err run_for <<<"$c"
  out=$(mktemp) err=$(mktemp)
  if [ -n "$run_for" ]; then
    # shellcheck disable=SC2086  # the arguments split on purpose
    HOME=$home XDG_CONFIG_HOME=$home timeout --preserve-status -s TERM "$run_for" \
      env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog" $args >"$out" 2>"$err"
    rc=$?
    # The toolkit's own notes on stderr (no runtime directory ...) are not the program's.
    errlines=$(grep -cv '^QStandardPaths\|^This plugin does not support' "$err")
  else
    # shellcheck disable=SC2086  # the arguments split on purpose
    timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog" $args >"$out" 2>"$err"
    rc=$?
    errlines=$(wc -l <"$err")
  fi
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
