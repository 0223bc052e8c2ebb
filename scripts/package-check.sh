#!/usr/bin/env bash
# Builds the Debian package (Release, tests off), installs it with apt-get,
# starts the installed program headless and removes the package again, so
# the machine is left as it was found. Needs root.
#   - with no display: one line on stderr, exit status 1
#   - offscreen: the window comes up; SIGTERM after 3 s closes it, exit status 0
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root (apt-get installs the package)" >&2; exit 1; }
if dpkg-query -W -f='${Status}' pathlume 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: a pathlume package is already installed; not touching it" >&2
  exit 1
fi
scripts/setup.sh
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_TESTS=OFF \
      -DPATHLUME_WERROR=ON >/dev/null
cmake --build "$build" -j2
rm -f "$build"/pathlume_*.deb
(cd "$build" && cpack >/dev/null)
debs=("$build"/pathlume_*_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package-check: no single .deb built" >&2; exit 1; }
echo "Built ${debs[0]}"
dpkg-deb -f "${debs[0]}" Package Version Architecture Section Depends

# The program keeps its settings under XDG_CONFIG_HOME: a throwaway one here,
# so that the runs below leave the user's own configuration alone.
XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"; DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq pathlume >/dev/null && echo "Removed pathlume again"' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./${debs[0]}" >/dev/null
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for f in /usr/bin/pathlume /usr/bin/pathlume-cli /usr/bin/pathlume-devsim \
         /usr/share/applications/pathlume.desktop \
         /usr/share/icons/hicolor/scalable/apps/pathlume.svg \
         /usr/share/icons/hicolor/48x48/apps/pathlume.png; do
  [ -e "$f" ] || bad "$f not installed"
done
dpkg -L pathlume | grep -q '^/usr/share/metainfo/.*\.metainfo\.xml$' || bad "no metainfo installed"

# One version number: the package's is the program's own.
version="$(dpkg-deb -f "${debs[0]}" Version)"
said="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/pathlume --version)" || true
echo "--version: $said"
[ "$said" = "pathlume $version" ] || bad "--version says '$said', the package is $version"
said="$(/usr/bin/pathlume-cli --version)" || true
[ "$said" = "pathlume-cli $version" ] || bad "pathlume-cli --version says '$said', the package is $version"

status=0
out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/pathlume 2>&1)" || status=$?
echo "no display: exit $status: $out"
[ "$status" -eq 1 ] || bad "without a display the exit status is $status, not 1"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || bad "without a display it printed more than one line"

status=0
start=$(date +%s%N)
QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM -k 5 3 /usr/bin/pathlume || status=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "offscreen: ran ${ms} ms, exit $status after SIGTERM"
[ "$status" -eq 0 ] || bad "offscreen run ended with status $status, not 0"
[ "$ms" -ge 2500 ] || bad "offscreen run ended after ${ms} ms, before SIGTERM"

[ "$fail" -eq 0 ] && echo "package-check: passed"
exit "$fail"
