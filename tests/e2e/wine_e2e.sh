#!/usr/bin/env bash
# The Windows build, run under Wine: the protocol, engine and CLI test
# suites, then pathlume-cli.exe end to end
#   - against pathlume-devsim.exe over loopback with the testing endpoints
#     (ports other than 22093): find, get, a write verified by its re-read,
#     save over an earlier save, load, history; Greek and CJK file names,
#     and 'τest.txt' beside a 'test.txt' it must not touch;
#   - against the Linux pathlume-devsim over loopback: the Windows program's
#     find and get print the same bytes as the Linux program's, and its
#     write is verified;
#   - with root, on its default endpoints in private network namespaces
#     (scripts/netns-lab.sh, shape "two"): a Find goes out once from each
#     interface address and finds the devices on both links, also with more
#     addresses than the first listing has room for; a named interface (by
#     its address) reaches only its own link.
# With root every Windows program runs inside the lab's program namespace:
# the Wine prefix is made there, so its server and sockets live there and
# nothing the programs send can leave it. Without root, only the loopback
# parts run. Wine gets a fresh prefix in a temporary folder, no display and
# no debug output; its first start is timed.
#   wine_e2e.sh MINGW_BUILD_DIR LINUX_BUILD_DIR
# (MINGW_BUILD_DIR from scripts/cross-build.sh, with the test suites;
# LINUX_BUILD_DIR holding pathlume-devsim and pathlume-cli.) Exit 77 when
# Wine is not installed.
set -euo pipefail
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
  echo "skipped: wine is not installed (PATHLUME_WITH_WINE=1 scripts/setup.sh)"
  exit 77
fi
tag="plw$$"
work="$(mktemp -d)"
pids=()
in_lab=0
. "$(dirname "$0")/../support/e2e.sh"

export XDG_STATE_HOME="$work/state"   # the Linux program's journal, never the user's
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no offer to install Mono or Gecko
export LC_ALL=C.UTF-8   # Wine takes arguments and file names from UTF-8 then
unset DISPLAY WAYLAND_DISPLAY

# Every Wine program (wine, winepath, wineserver) and every program the
# Windows ones talk to over loopback runs here.
here=()
inside() { "${here[@]}" "$@"; }

cleanup() {
  end_pids "${pids[@]}"
  inside wineserver -w 2>/dev/null || true   # ends once its last program has
  [ "$in_lab" -eq 0 ] || "$lab" down "$tag"
  rm -rf "$work"
}
trap cleanup EXIT

status=0
"$lab" up "$tag" two >"$work/lab.out" || status=$?
if [ "$status" -eq 0 ]; then
  in_lab=1
  here=(ip netns exec "${tag}h")
  export PATHLUME_PRIVATE_NETWORK=1   # the suites may open the broadcast address here
elif [ "$status" -eq 77 ]; then
  echo "skipped: per-interface sends ($(cat "$work/lab.out")); loopback only"
else
  exit "$status"
fi

t0=$(date +%s)
inside wine wineboot --init >"$work/wineboot.log" 2>&1
echo "Wine prefix made in $(( $(date +%s) - t0 )) s"

# --- The test suites ------------------------------------------------------
for suite in protocol_tests engine_tests cli_tests; do
  rc=0
  inside timeout 300 wine "$win_build/$suite.exe" >"$work/$suite.log" 2>&1 || rc=$?
  tr -d '\r' <"$work/$suite.log" >"$work/$suite.txt"
  # What Windows or Wine lacks, as each skipped test says it.
  grep -A1 ': Skipped$' "$work/$suite.txt" | grep -v -e ': Skipped$' -e '^--$' \
    | sed "s/^/  $suite skipped: /" || true
  check "$suite.exe passes ($(grep -E '^\[  PASSED  \]' "$work/$suite.txt" | tr -s ' '))" [ "$rc" -eq 0 ]
  [ "$rc" -eq 0 ] || tail -n 60 "$work/$suite.txt"
done

# --- pathlume-cli.exe over loopback ----------------------------------------
winpath() { inside winepath -w "$1" 2>/dev/null | tr -d '\r'; }
cli_exe="$win_build/pathlume-cli.exe"
# wrun EXIT NAME ARGS...: pathlume-cli.exe ARGS (at most 60 s), stdout in
# $work/NAME.out, stderr in $work/NAME.err, and a check that it exits EXIT.
wrun() {
  local want="$1" name="$2"; shift 2
  local rc=0
  inside timeout 60 wine "$cli_exe" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  check "$name exits $want (got $rc)" [ "$rc" -eq "$want" ]
  [ "$rc" -eq "$want" ] || cat "$work/$name.err"
}
# start_sim LOG PROGRAM ARGS...: a simulator on 127.0.0.1, its port in $sim_port.
start_sim() {
  local log="$1"; shift
  "${here[@]}" "$@" --listen 127.0.0.1:0 --print-port --reply-to sender --time-limit 120 >"$log" 2>&1 &
  pids+=($!)   # the program itself (ip netns exec and wine exec it), ended by its PID
  sim_port=""
  for _ in $(seq 100); do
    sim_port=$(sed -n 's/^port \([0-9]*\).*/\1/p' "$log" | head -n 1)
    [ -n "$sim_port" ] && break
    sleep 0.1
  done
  [ -n "$sim_port" ] || { echo "FAILED: $1 did not start:"; cat "$log"; exit 1; }
}
# Reply ports of this run's own, never 22093.
base=$(( 30000 + ($$ % 10000) * 2 ))
reply_win=$base
reply_linux=$((base + 1))

start_sim "$work/devsim-exe.log" wine "$win_build/pathlume-devsim.exe" --devices 3 --seed 21 \
  --reply-port "$reply_win" --state-file "$(winpath "$work/state.txt")"
ep=(--send-to "127.0.0.1:$sim_port" --listen "127.0.0.1:$reply_win")

wrun 0 find-table find "${ep[@]}" --timeout 1
check "find lists the three devices of pathlume-devsim.exe" [ "$(wc -l <"$work/find-table.out")" -eq 4 ]
check "lines end with LF alone, as on Linux" bash -c "! grep -q $'\r' \"\$1\"" _ "$work/find-table.out"
wrun 0 find-csv find "${ep[@]}" --timeout 1 --format csv
check "a CSV line ends with one CR LF" [ "$(grep -c $'[^\r]\r$' "$work/find-csv.out")" -eq 4 ]
serial=$(sed -n '2s/ .*//p' "$work/find-table.out")
wrun 0 get get "$serial" "${ep[@]}" --format json
check "get shows its configuration" grep -q "\"SERIAL_NUM\": \"$serial\"" "$work/get.out"
wrun 0 set set "$serial" HOST_NAME=wine-lobby "${ep[@]}"
check "the write is verified" grep -qx "Configuration verified." "$work/set.out"
check "the device holds it" grep -qx "HOST_NAME = wine-lobby" "$work/state.txt"
saved="$(winpath "$work/saved.txt")"
wrun 0 save-first save "$serial" "$saved" "${ep[@]}"
wrun 0 set-again set "$serial" HOST_NAME=wine-other "${ep[@]}"
wrun 0 save-over save "$serial" "$saved" "${ep[@]}"
check "a save replaces the file it is saved over" grep -qx "HOST_NAME = wine-other" "$work/saved.txt"
check "... and leaves no file beside it" [ "$(ls "$work" | grep -c '^saved\.txt')" -eq 1 ]
sed -i 's/^HOST_NAME = .*/HOST_NAME = wine-loaded/' "$work/saved.txt"
wrun 0 load load "$serial" "$saved" "${ep[@]}"
check "load writes the file's value, verified" grep -qx "Configuration verified." "$work/load.out"
check "the device holds it" grep -qx "HOST_NAME = wine-loaded" "$work/state.txt"
wrun 0 history history "$serial"
check "history lists the three writes" [ "$(grep -cE '^[0-9]+  ' "$work/history.out")" -eq 3 ]
wrun 0 restore restore "$serial" "${ep[@]}"
check "restore gives the last write's value back" grep -qx "HOST_NAME = wine-other" "$work/state.txt"

# File names beyond the ANSI code page: the programs' manifest makes UTF-8
# their code page, so Greek and CJK names are saved to, loaded from and named
# in messages as typed; 'τest.txt' is never mapped to the 'test.txt' beside
# it (Windows' best fit would). (The journal in such a folder: the protocol
# suite.)
mkdir -p "$work/names"
wdir="$(winpath "$work")"
printf 'untouched\n' >"$work/names/test.txt"
i=0
for name in 'τest.txt' 'Ρυθμίσεις.txt' '打印机设置.txt'; do
  i=$((i + 1))
  wrun 0 "utf8-save-$i" save "$serial" "$wdir\\names\\$name" "${ep[@]}"
  check "save makes $name" grep -q '^HOST_NAME = ' "$work/names/$name"
  sed -i "s/^HOST_NAME = .*/HOST_NAME = utf8-name-$i/" "$work/names/$name"
  wrun 0 "utf8-load-$i" load "$serial" "$wdir\\names\\$name" "${ep[@]}"
  check "load from $name writes its value" grep -qx "HOST_NAME = utf8-name-$i" "$work/state.txt"
done
check "test.txt beside τest.txt is untouched" [ "$(cat "$work/names/test.txt")" = untouched ]
check "... and nothing else was made beside them" \
  [ "$(ls "$work/names" | LC_ALL=C sort | tr '\n' ' ')" = "test.txt Ρυθμίσεις.txt τest.txt 打印机设置.txt " ]
wrun 2 utf8-missing load "$serial" "$wdir\\names\\缺少的文件.txt" "${ep[@]}"
check "a name that is not there is named as typed" \
  grep -qF "$wdir\\names\\缺少的文件.txt" "$work/utf8-missing.err"

# The Linux simulator's bytes: the Windows and the Linux program print the same.
start_sim "$work/devsim-linux.log" "$linux_build/pathlume-devsim" --devices 4 --seed 22 \
  --reply-port "$reply_linux"
ep=(--send-to "127.0.0.1:$sim_port" --listen "127.0.0.1:$reply_linux")
for format in table json csv; do
  wrun 0 "win-find-$format" find "${ep[@]}" --timeout 1 --format "$format"
  inside "$linux_build/pathlume-cli" find "${ep[@]}" --timeout 1 --format "$format" \
    >"$work/linux-find-$format.out" 2>"$work/linux-find-$format.err" || true
  # The arrival interface is named as each system names it ("lo" on
  # Linux, its address on Windows, nothing where Wine does not say).
  for side in win linux; do
    sed -E -e 's/ \((lo|127\.0\.0\.1)\)//g' -e 's/"interface": "(lo|127\.0\.0\.1)"/"interface": ""/g' \
      -e 's/,(lo|127\.0\.0\.1)(\r?)$/,\2/' "$work/$side-find-$format.out" >"$work/$side-find-$format.cmp"
  done
  check "find --format $format: the same bytes from both programs (but the interface's name)" \
    cmp -s "$work/win-find-$format.cmp" "$work/linux-find-$format.cmp"
done
check "... listing the four devices of the Linux pathlume-devsim" \
  [ "$(grep -c '"serial": ' "$work/win-find-json.out")" -eq 4 ]
serial=$(sed -n '2s/ .*//p' "$work/win-find-table.out")
wrun 0 win-get get "$serial" "${ep[@]}" --format json
inside "$linux_build/pathlume-cli" get "$serial" "${ep[@]}" --format json >"$work/linux-get.out" \
  2>"$work/linux-get.err" || true
check "get: the same bytes from both programs" cmp -s "$work/win-get.out" "$work/linux-get.out"
wrun 0 win-set set "$serial" PRNT_RCV_TMO=300 "${ep[@]}"
check "the write to the Linux simulator is verified" grep -qx "Configuration verified." "$work/win-set.out"
check "... which took it" grep -q "^setconfig .*$serial" "$work/devsim-linux.log"

# --- The window ----------------------------------------------------------
# pathlume.exe as shipped (from the ZIP, with the DLLs found beside it): its
# test suite under the offscreen platform, then, in the lab, the program
# itself with its windows platform on a virtual X screen, driven from the
# keyboard as a user would (xdotool): Seek lists every device of both links
# (checked in the list's CSV export), a row read, a write verified, Stop
# ending a Seek. The devices' logs and state say what the window did.
zip_file=$(ls "$win_build"/pathlume-*-windows-x64.zip 2>/dev/null | head -n 1 || true)
if [ -f "$win_build/app/pathlume.exe" ] && [ -n "$zip_file" ]; then
  mkdir -p "$work/zip"
  (cd "$work/zip" && cmake -E tar xf "$zip_file")
  app_dir=$(find "$work/zip" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  qt_prefix=$(sed -n 's|^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$|\1|p' "$win_build/CMakeCache.txt")
  # The suite beside the shipped DLLs, and the offscreen platform it runs on.
  cp "$win_build/ui_tests.exe" "$app_dir/"
  cp "$qt_prefix/bin/Qt6Test.dll" "$app_dir/"
  cp "$qt_prefix/plugins/platforms/qoffscreen.dll" "$app_dir/platforms/"
  # The offscreen platform on Windows knows only the fonts in lib/fonts beside
  # the program, and without one it measures every letter as a box: the
  # suites run on DejaVu Sans, as they do on Linux.
  mkdir -p "$app_dir/lib/fonts"
  cp /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf "$app_dir/lib/fonts/"
  rc=0
  QT_QPA_PLATFORM=offscreen inside timeout 600 wine "$app_dir/ui_tests.exe" >"$work/ui_tests.log" 2>&1 || rc=$?
  tr -d '\r' <"$work/ui_tests.log" >"$work/ui_tests.txt"
  grep -A1 ': Skipped$' "$work/ui_tests.txt" | grep -v -e ': Skipped$' -e '^--$' \
    | sed "s/^/  ui_tests skipped: /" || true
  check "ui_tests.exe passes ($(grep -E '^\[  PASSED  \]' "$work/ui_tests.txt" | tr -s ' '))" [ "$rc" -eq 0 ]
  [ "$rc" -eq 0 ] || grep -E -B2 -A12 '^\[  FAILED  \]|Failure$' "$work/ui_tests.txt" | head -n 150
  rm -rf "$app_dir/ui_tests.exe" "$app_dir/Qt6Test.dll" "$app_dir/platforms/qoffscreen.dll" "$app_dir/lib"

  rc=0
  inside timeout 60 wine "$app_dir/pathlume.exe" --version >"$work/window-version.out" 2>&1 || rc=$?
  check "pathlume.exe --version answers" grep -qx "pathlume [0-9.]*" <(tr -d '\r' <"$work/window-version.out")

  if [ "$in_lab" -eq 1 ] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    . "$(dirname "$0")/wine_window.sh"
  else
    echo "skipped: the window end to end (needs root, Xvfb and xdotool)"
  fi
fi

# --- The installer ---------------------------------------------------------
# Installed silently (/S) with what it offers by default, the installed
# programs' DLL imports all there, pathlume.exe starting from there; then
# uninstalled silently, leaving nothing.
installer=$(ls "$win_build"/pathlume-*-windows-x64.exe 2>/dev/null | head -n 1 || true)
if [ -n "$installer" ]; then
  programs="$WINEPREFIX/drive_c/Program Files/Pathlume"
  rc=0
  inside timeout 120 wine "$installer" /S >"$work/install.log" 2>&1 || rc=$?
  check "the installer runs silently (exit $rc)" [ "$rc" -eq 0 ]
  check "... and installs pathlume-cli.exe" test -f "$programs/pathlume-cli.exe"
  check "... but not the simulator, which is chosen apart" test ! -e "$programs/pathlume-devsim.exe"
  check "... and an uninstaller" test -f "$programs/Uninstall.exe"
  check "the installed programs' DLL imports are all there" \
    "$(dirname "$0")/../install/windows_dlls_test.sh" "$programs"
  if [ -f "$win_build/app/pathlume.exe" ]; then
    check "... pathlume.exe among them" test -f "$programs/pathlume.exe"
    check "a Start-menu shortcut to the window" bash -c \
      "find \"\$1/drive_c\" -ipath '*start menu*' -iname 'Pathlume.lnk' | grep -q ." _ "$WINEPREFIX"
    rc=0
    inside timeout 60 wine "$programs/pathlume.exe" --version >"$work/installed-version.out" 2>&1 || rc=$?
    check "the installed pathlume.exe starts (--version, exit $rc)" \
      grep -qx "pathlume [0-9.]*" <(tr -d '\r' <"$work/installed-version.out")
  fi
  rc=0
  inside timeout 120 wine "$programs/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || rc=$?
  # The uninstaller runs on from a copy of itself; give it its time.
  gone() { [ ! -e "$programs/pathlume-cli.exe" ] && [ ! -e "$programs/Uninstall.exe" ]; }
  for _ in $(seq 100); do gone && break; sleep 0.3; done
  check "the uninstaller removes the programs (exit $rc)" gone
fi

# --- Per interface, in the lab ----------------------------------------------
if [ "$in_lab" -eq 1 ]; then
  ip netns exec "${tag}d" "$linux_build/pathlume-devsim" --devices 2 --seed 23 --time-limit 120 \
    >"$work/sim-d.log" 2>&1 &
  pids+=($!)
  ip netns exec "${tag}e" "$linux_build/pathlume-devsim" --devices 3 --seed 24 --time-limit 120 \
    >"$work/sim-e.log" 2>&1 &
  pids+=($!)
  sleep 0.5
  finds() { grep -c "^find from $1:" "$2" || true; }
  wrun 0 named find --timeout 1 --format csv --interface 10.232.0.1
  if grep -q "cannot be listed" "$work/named.err"; then
    echo "skipped: per-interface sends: Wine cannot list the interfaces here ($(cat "$work/named.err"))"
  else
    check "the interface named by its address reaches its own link's three devices" \
      [ "$(wc -l <"$work/named.out")" -eq 4 ]
    check "... and no other" [ "$(finds 10.231.0.1 "$work/sim-d.log")" -eq 0 ]
    wrun 0 every find --timeout 1 --format csv
    check "a Find on every interface lists the devices of both links" \
      [ "$(wc -l <"$work/every.out")" -eq 6 ]
    check "... sent once from the first link's address" [ "$(finds 10.231.0.1 "$work/sim-d.log")" -eq 1 ]
    check "... and once from the second's" [ "$(finds 10.232.0.1 "$work/sim-e.log")" -eq 2 ]
    # Windows lists addresses: 81 on the first link, more than the 64 the
    # listing first has room for, and the second link listed after them.
    for i in $(seq 10 89); do ip -n "${tag}h" addr add "10.231.0.$i/24" dev "${tag}vh"; done
    wrun 0 many find --timeout 1 --format csv
    check "with 82 addresses every device is still listed" [ "$(wc -l <"$work/many.out")" -eq 6 ]
    check "... each address of the first link sent one Find" \
      [ "$(grep -c '^find from 10.231.0.' "$work/sim-d.log")" -eq 82 ]
    check "... and the second link's one" [ "$(finds 10.232.0.1 "$work/sim-e.log")" -eq 3 ]
  fi
  wrun 4 missing find --timeout 0 --interface 10.9.9.9
  check "an interface that is not there is named" \
    grep -qx "pathlume-cli: Cannot send to UDP port 22093: no broadcast interface 10.9.9.9 is up." \
    "$work/missing.err"
fi

echo "wine e2e: $failures failure(s)"
[ "$failures" -eq 0 ]
