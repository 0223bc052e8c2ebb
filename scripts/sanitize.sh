#!/usr/bin/env bash
# Runs the test suite under a sanitizer: scripts/sanitize.sh asan | tsan
#   asan: AddressSanitizer + UndefinedBehaviorSanitizer, whole suite
#   tsan: ThreadSanitizer, the protocol and engine suites
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-asan}"
scripts/setup.sh
case "$kind" in
  asan)
    cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPATHLUME_ASAN=ON -DPATHLUME_WERROR=ON -DPATHLUME_BUILD_UI=ON >/dev/null
    cmake --build build/asan
    cd build/asan
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --output-on-failure --timeout 900 ;;
  tsan)
    cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPATHLUME_TSAN=ON -DPATHLUME_WERROR=ON \
      -DPATHLUME_BUILD_UI=OFF >/dev/null
    cmake --build build/tsan
    cd build/tsan
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure --timeout 900 ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
