#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs
# the whole test suite (window tests headless), then cross-compiles the
# toolkit-free parts for Windows when mingw-w64 is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATHLUME_WERROR=ON >/dev/null
cmake --build build/test
(cd build/test && ctest --output-on-failure --timeout 600 "$@")
status=0
scripts/cross-build.sh || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ]
