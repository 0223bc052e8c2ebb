#!/usr/bin/env bash
# Installs what building and testing Pathlume needs on Debian 12, if missing.
# Idempotent: does nothing (and asks no package server) when all is there.
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev
          qt6-base-dev libgl-dev fonts-dejavu-core iproute2 util-linux)
# Program icon rendering, and the validators the install test runs.
packages+=(librsvg2-bin desktop-file-utils appstream)
# Memory checking of the one window test the sanitizers cannot see into.
packages+=(valgrind)
if [ "${PATHLUME_WITH_BENCH:-0}" = 1 ]; then packages+=(libbenchmark-dev valgrind); fi
# The cross compiler; Qt for mingw-w64 is built from Debian's qt6-base source
# (scripts/qt-mingw.sh: apt-get source unpacks it with dpkg-source, the host's
# Qt tools generate its code); nsis makes the installer.
if [ "${PATHLUME_WITH_CROSS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils qt6-base-dev-tools nsis)
fi
# The Windows programs and test suites run under Wine (console programs: no
# display, none of the recommended desktop libraries); googletest gives the
# framework's sources, which the cross-build compiles for Windows.
lean=()
# The window runs under Wine on a virtual X screen (xvfb), driven by
# xdotool, and its picture is taken with xwd and converted by ImageMagick.
if [ "${PATHLUME_WITH_WINE:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils qt6-base-dev-tools nsis googletest groff-base
             xvfb xauth x11-apps xdotool imagemagick)
  # fonts-wine: Wine's own fonts (Tahoma, and Marlett for the title bars'
  # buttons), which the window as Windows draws it needs.
  lean+=(wine wine64 fonts-wine)
fi
if [ "${PATHLUME_WITH_FUZZ:-0}" = 1 ]; then packages+=(clang libclang-rt-14-dev); fi
if [ "${PATHLUME_WITH_SCREENSHOT:-0}" = 1 ]; then packages+=(xvfb xauth x11-apps imagemagick); fi
# The package check's linter; dpkg-dev gives dpkg-buildflags (hardening flags)
# and dpkg-shlibdeps (the package's dependencies).
if [ "${PATHLUME_WITH_LINTIAN:-0}" = 1 ]; then packages+=(lintian dpkg-dev man-db); fi
# The many-sites playbook (contrib/ansible) and its two-site test.
if [ "${PATHLUME_WITH_ANSIBLE:-0}" = 1 ]; then packages+=(ansible-core); fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_lean=()
for p in "${lean[@]}"; do
  installed "$p" || missing_lean+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]} ${missing_lean[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root to install: ${missing[*]} ${missing_lean[*]}" >&2; exit 1; }
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $SUDO apt-get install -y -qq "${missing[@]}"
[ ${#missing_lean[@]} -eq 0 ] || $SUDO apt-get install -y -qq --no-install-recommends "${missing_lean[@]}"
