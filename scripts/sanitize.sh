#!/usr/bin/env bash
# Runs the test suite under a sanitizer: scripts/sanitize.sh asan | tsan
#   asan: AddressSanitizer + UndefinedBehaviorSanitizer, the whole suite
#         (window tests included)
#   tsan: ThreadSanitizer, the protocol, engine and window suites
# Any report fails the run. The suppression files (lsan.supp, tsan.supp)
# name the system's and the toolkit's own libraries only.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
kind="${1:-asan}"
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
case "$kind" in
  asan)
    cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPATHLUME_ASAN=ON -DPATHLUME_WERROR=ON \
      -DPATHLUME_BUILD_UI=ON >/dev/null
    cmake --build build/asan -j2
    cd build/asan
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
    LSAN_OPTIONS="suppressions=$root/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --output-on-failure --timeout 900 ;;
  tsan)
    cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPATHLUME_TSAN=ON -DPATHLUME_WERROR=ON \
      -DPATHLUME_BUILD_UI=ON >/dev/null
    cmake --build build/tsan -j2 --target protocol_tests engine_tests ui_tests pathlume-devsim
    cd build/tsan
    # Qt is not built with the sanitizer: what its own code allocates and
    # copies is not taken as accesses (the project's code is still checked
    # in full), and tsan.supp holds what remains inside Qt.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$root/tsan.supp" \
      ctest --output-on-failure --timeout 900 -R '^(protocol_tests|engine_tests|ui_tests)$' ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
