#!/usr/bin/env bash
# The Windows build, proven by running it under Wine: builds it with its test
# suites (scripts/cross-build.sh) and the Linux simulator and pathlume-cli
# it is compared with, then runs tests/e2e/wine_e2e.sh (the suites, then
# pathlume-cli.exe end to end; per interface in private network namespaces
# when run as root). Prints how long each part took.
# Exit 77 when the cross compiler, the googletest sources or Wine are
# missing (PATHLUME_WITH_WINE=1 scripts/setup.sh installs them), and 1
# instead with PATHLUME_REQUIRE_WINE=1, as CI sets it.
set -euo pipefail
cd "$(dirname "$0")/.."
missing() {
  echo "wine test skipped: $1 (PATHLUME_WITH_WINE=1 scripts/setup.sh)"
  if [ "${PATHLUME_REQUIRE_WINE:-0}" = 1 ]; then exit 1; fi
  exit 77
}
command -v wine >/dev/null || missing "wine is not installed"
[ -f /usr/src/googletest/CMakeLists.txt ] || missing "the googletest sources are not installed"
t0=$(date +%s)
status=0
scripts/cross-build.sh || status=$?
[ "$status" -ne 77 ] || missing "the cross compiler is not installed"
[ "$status" -eq 0 ] || exit "$status"
if [ ! -f build/test/build.ninja ]; then
  cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATHLUME_WERROR=ON >/dev/null
fi
cmake --build build/test -j2 --target pathlume-devsim pathlume-cli
t1=$(date +%s)
echo "built in $((t1 - t0)) s"
tests/e2e/wine_e2e.sh build/mingw build/test
echo "ran under Wine in $(( $(date +%s) - t1 )) s"
