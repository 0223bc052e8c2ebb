# The window end to end under Wine, sourced by wine_e2e.sh inside its lab
# (shape "two"), with root: pathlume.exe from the unpacked ZIP ($app_dir) on
# its default endpoints in the lab's program namespace, with its windows
# platform on a virtual X screen that lives in that namespace too; devices on
# both links. Driven from the keyboard (xdotool) as a user would:
#   Alt+S         Seek: the Find goes out of both links;
#   Tab, Home, Space   the first row's configuration read;
#   Down, Space on each further row   every device of both links listed
#                 (each row reads the device it names, as their logs say);
#   Alt+E, Tab, a host name, Enter   a write, verified (the device holds it,
#                 the journal says "verified");
#   Tab Tab to the Timeout, 30, F5, Alt+T, back to the list, Space   Stop
#                 ends the Seek: a row is read at once (a busy window would
#                 refuse it).
# A mnemonic presses its button without taking the focus, and a dialog that
# closes gives it back to the list, so the keys above find their controls.
# The window as Windows draws it is kept as $win_build/main-window-windows.png
# (docs/main-window-windows.png is a copy).
# shellcheck shell=bash
display_no=$(( 200 + $$ % 700 ))
while [ -e "/tmp/.X11-unix/X$display_no" ] || [ -e "/tmp/.X$display_no-lock" ]; do
  display_no=$((display_no + 1))
done
export DISPLAY=":$display_no"
inside Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  inside xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.2
done

ip netns exec "${tag}d" "$linux_build/pathlume-devsim" --devices 2 --seed 31 --time-limit 300 \
  --state-file "$work/window-d.txt" >"$work/window-d.log" 2>&1 &
sim_d=$!
ip netns exec "${tag}e" "$linux_build/pathlume-devsim" --devices 3 --seed 32 --time-limit 300 \
  --state-file "$work/window-e.txt" >"$work/window-e.log" 2>&1 &
sim_e=$!
pids+=("$sim_d" "$sim_e")

inside wine explorer /desktop=pathlume,1000x700 "$app_dir/pathlume.exe" \
  >"$work/window.log" 2>&1 &
window_pid=$!
pids+=("$window_pid")

key() { inside xdotool key --delay 120 "$@"; sleep 0.4; }
typed() { inside xdotool type --delay 60 "$1"; sleep 0.3; }
finds() { cat "$work/window-d.log" "$work/window-e.log" | grep -c '^find from' || true; }
reads() { cat "$work/window-d.log" "$work/window-e.log" | grep -c '^getconfig' || true; }
# wait_for SECONDS COMMAND...: until the command succeeds, at most SECONDS.
wait_for() {
  local limit=$(( $1 * 5 )); shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.2; done
  return 1
}
more_than() { [ "$("$1")" -gt "$2" ]; }
window_shown() { inside xdotool search --name '^Varden Pathlume$' >/dev/null 2>&1; }
desktop_id() { inside xdotool search --name 'Wine desktop|pathlume' 2>/dev/null | head -n 1 || true; }
has_desktop() { [ -n "$(desktop_id)" ]; }
both_links_found() { grep -q '^find from' "$work/window-d.log" && grep -q '^find from' "$work/window-e.log"; }
device_holds() { cat "$work/window-d.txt" "$work/window-e.txt" | grep -qx "HOST_NAME = $1"; }
# The window's records in the journal (Wine sets %LOCALAPPDATA% from its
# prefix, where pathlume-cli's records above are too).
journal_says() {
  cat "$WINEPREFIX"/drive_c/users/*/AppData/Local/pathlume/writes.jsonl 2>/dev/null |
    grep -F '"program": "pathlume", ' | grep -qF "\"outcome\": \"$1\""
}
window_gone() { ! kill -0 "$window_pid" 2>/dev/null; }
# The keys go to the window Wine has made active. Wine's desktop does not
# make the program's window active when it opens, and giving the X focus to
# the desktop window takes it away again: a click on the window's title bar
# activates it, as a user's would; then the pointer goes out of the way.
refocus() {
  inside xdotool mousemove --window "$desktop" 500 12 click 1 2>/dev/null || true
  sleep 0.3
  inside xdotool mousemove 1010 760 2>/dev/null || true
  sleep 0.3
}

# The desktop window takes the keys; the program's window has the focus in it.
wait_for 60 has_desktop || true
desktop=$(desktop_id)
check "the window's desktop opened" [ -n "$desktop" ]
if [ -n "$desktop" ]; then
  wait_for 60 window_shown || true
  refocus

  # Seek, once the window takes keys (a first Alt+S may come before it is up).
  seek_seen=1
  for _ in $(seq 20); do
    key alt+s
    wait_for 4 more_than finds 0 && { seek_seen=0; break; }
    key Escape
  done
  check "Alt+S sends a Find" [ "$seek_seen" -eq 0 ]
  check "... out of both links" wait_for 5 both_links_found
  sleep 4   # the default Timeout of 3 s

  # A row: Tab from Seek past Edit config into the list, the first row, Space.
  key Tab Tab Home space
  check "Space on the first row reads its configuration" wait_for 10 more_than reads 0
  sleep 1

  # Every row read in turn, Down then Space: each reads the configuration of
  # the device that row names, so the devices read are the devices listed.
  # (The list's context menu and its "Export as CSV..." are not driven here:
  # under Wine on Xvfb a Qt popup window opens black and takes no input.)
  devices=$(cat "$work/window-d.txt" "$work/window-e.txt" | grep -c '^SERIAL_NUM = ' || true)
  for _ in $(seq 2 "$devices"); do
    before_reads=$(reads)
    key Down space
    wait_for 10 more_than reads "$before_reads" || true
    sleep 1
  done
  cat "$work/window-d.log" "$work/window-e.log" | sed -n 's|^getconfig from .* for [0-9A-F]*/\([^:]*\):.*|\1|p' |
    LC_ALL=C sort -u >"$work/window-listed.txt" || true
  cat "$work/window-d.txt" "$work/window-e.txt" | sed -n 's/^SERIAL_NUM = //p' | LC_ALL=C sort \
    >"$work/window-devices.txt"
  check "Seek lists every device of both links ($devices): each row reads its own" \
    cmp -s "$work/window-listed.txt" "$work/window-devices.txt"
  key Home
  sleep 0.5

  # A write: the form on the row read, the host name typed, OK.
  key alt+e
  sleep 2
  key Tab ctrl+a
  typed "wine-window"
  key Return
  refocus
  check "the write reaches the device" wait_for 15 device_holds wine-window
  check "... and is verified, as the journal says" wait_for 10 journal_says verified
  sleep 1
  inside xwd -root -silent >"$work/window.xwd" 2>/dev/null &&
    convert "xwd:$work/window.xwd" -crop 1000x700+0+0 +repage "png:$win_build/main-window-windows.png" 2>/dev/null || true
  check "a picture of the window was taken" test -s "$win_build/main-window-windows.png"

  # Stop: the Timeout at 30 s (Tab from the list: Stop, Timeout).
  key Tab Tab ctrl+a
  typed "30"
  before_finds=$(finds)
  key F5
  check "F5 seeks again" wait_for 5 more_than finds "$before_finds"
  before_reads=$(reads)
  key alt+t
  key shift+Tab shift+Tab space
  check "Stop ends the Seek: a row is read at once" wait_for 8 more_than reads "$before_reads"

  key alt+F4
  check "Alt+F4 closes the window and ends the program" wait_for 20 window_gone
fi
end_pids "$window_pid" "$sim_d" "$sim_e"
