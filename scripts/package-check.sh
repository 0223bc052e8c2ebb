#!/usr/bin/env bash
# Builds the Debian packages (Release with Debian's hardening flags, tests off),
# lints each with lintian (any error or warning, or a missing hardening
# feature, fails), installs the tool's package with apt-get and checks what it
# holds and how the installed program starts, then the simulator's package
# beside it, and removes both again, so the machine is left as it was found.
# Needs root.
#   - the tool's package does not bring the simulator along
#   - with no display: one line on stderr, exit status 1
#   - offscreen: the window comes up; SIGTERM after 3 s closes it, exit status 0
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root (apt-get installs the package)" >&2; exit 1; }
for p in pathlume pathlume-devsim; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "package-check: a $p package is already installed; not touching it" >&2
    exit 1
  fi
done
PATHLUME_WITH_LINTIAN=1 scripts/setup.sh
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATHLUME_BUILD_TESTS=OFF \
      -DPATHLUME_WERROR=ON -DPATHLUME_DPKG_BUILDFLAGS=ON >/dev/null
cmake --build "$build" -j2
rm -f "$build"/pathlume*_*.deb
(cd "$build" && cpack >/dev/null)
shopt -s nullglob
tool_debs=("$build"/pathlume_*_*.deb)
sim_debs=("$build"/pathlume-devsim_*_*.deb)
all_debs=("$build"/*.deb)
if [ ${#tool_debs[@]} -ne 1 ] || [ ${#sim_debs[@]} -ne 1 ] || [ ${#all_debs[@]} -ne 2 ]; then
  echo "package-check: expected pathlume_*.deb and pathlume-devsim_*.deb, built: ${all_debs[*]}" >&2
  exit 1
fi
tool_deb=${tool_debs[0]}
sim_deb=${sim_debs[0]}
for deb in "$tool_deb" "$sim_deb"; do
  echo "Built $deb"
  dpkg-deb -f "$deb" Package Version Architecture Section Depends Suggests
done

fail=0
bad() { echo "FAIL: $*"; fail=1; }

# lintian: errors and warnings fail, and so does any hardening tag (those are
# only informational in lintian, yet each means a protection left out).
for deb in "$tool_deb" "$sim_deb"; do
  status=0
  report="$(lintian --display-info "$deb" 2>"$build/lintian.err")" || status=$?
  [ -z "$report" ] || printf '%s\n' "$report"
  # 1 says tags were found (judged below); more says lintian itself failed.
  [ "$status" -le 1 ] || { cat "$build/lintian.err"; bad "lintian failed on $(basename "$deb")"; }
  if printf '%s\n' "$report" | grep -Eq '^[EW]: |^I: [^ ]+ hardening-'; then
    bad "lintian: $(basename "$deb")"
  fi
done
echo "lintian: $(basename "$tool_deb") and $(basename "$sim_deb") checked"

# The program keeps its settings under XDG_CONFIG_HOME: a throwaway one here,
# so that the runs below leave the user's own configuration alone.
XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_CONFIG_HOME
remove() {
  rm -rf "$XDG_CONFIG_HOME"
  local installed=()
  for p in pathlume pathlume-devsim; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      installed+=("$p")
    fi
  done
  if [ ${#installed[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${installed[@]}" >/dev/null &&
      echo "Removed ${installed[*]} again"
  fi
}
trap remove EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$tool_deb" >/dev/null

# The tool alone: the simulator answers broadcasts and stays out.
if dpkg-query -W -f='${Status}' pathlume-devsim 2>/dev/null | grep -q 'install ok installed' ||
   [ -e /usr/bin/pathlume-devsim ]; then
  bad "installing pathlume installed pathlume-devsim"
fi
for f in /usr/bin/pathlume /usr/bin/pathlume-cli \
         /usr/share/doc/pathlume/copyright /usr/share/doc/pathlume/changelog.gz \
         /usr/share/man/man1/pathlume.1.gz /usr/share/man/man1/pathlume-cli.1.gz \
         /usr/share/applications/pathlume.desktop \
         /usr/share/icons/hicolor/scalable/apps/pathlume.svg \
         /usr/share/icons/hicolor/48x48/apps/pathlume.png; do
  [ -e "$f" ] || bad "$f not installed"
done
dpkg -L pathlume | grep -q '^/usr/share/metainfo/.*\.metainfo\.xml$' || bad "no metainfo installed"
for page in pathlume pathlume-cli; do
  [ "$(man -w "$page" 2>/dev/null)" = "/usr/share/man/man1/$page.1.gz" ] || bad "man $page does not find its page"
done
# bash-completion loads the file by the command's name; it must register it.
bash -c 'source /usr/share/bash-completion/completions/pathlume-cli && complete -p pathlume-cli' \
  >/dev/null 2>&1 || bad "the installed completion does not register pathlume-cli"

# One version number: the package's is the program's own.
version="$(dpkg-deb -f "$tool_deb" Version)"
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

# The simulator's own package, beside the tool.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$sim_deb" >/dev/null
status=0
/usr/bin/pathlume-devsim --help >/dev/null || status=$?
[ "$status" -eq 0 ] || bad "installed pathlume-devsim --help exits $status"
[ "$(man -w pathlume-devsim 2>/dev/null)" = /usr/share/man/man1/pathlume-devsim.1.gz ] ||
  bad "man pathlume-devsim does not find its page"
[ -s /usr/share/doc/pathlume-devsim/copyright ] || bad "pathlume-devsim has no copyright file"

[ "$fail" -eq 0 ] && echo "package-check: passed"
exit "$fail"
