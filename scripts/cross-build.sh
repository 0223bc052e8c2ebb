#!/usr/bin/env bash
# Cross-compiles the toolkit-free parts (protocol library and simulator) for
# 64-bit Windows with mingw-w64, warnings as errors. No Qt parts, no tests.
# Exit 77 (and one line saying so) when the cross compiler is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "cross-build skipped: x86_64-w64-mingw32-g++-posix not installed (package g++-mingw-w64-x86-64-posix)"
  exit 77
fi
# The project's own headers stay free of platform headers, whose macros
# would rename the window code's SetWindowText, GetWindowText, MessageBox.
if grep -nE '^\s*#\s*include\s*<(winsock2?|windows|ws2tcpip|iphlpapi)\.h>' \
     protocol/*.h ui/*.h app/*.h tools/devsim/*.h; then
  echo "cross-build failed: a project header includes a platform header (above)" >&2
  exit 1
fi
cmake --no-warn-unused-cli -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DPATHLUME_WERROR=ON \
      -DPATHLUME_BUILD_UI=OFF -DPATHLUME_BUILD_TESTS=OFF -DPATHLUME_BUILD_BENCH=OFF >/dev/null
cmake --build build/mingw -j2 --target pathlume_protocol pathlume-devsim
# The application's socket-library start is the one Windows-only file of the
# Qt side; it needs no Qt, so it is compiled here too.
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
  -Iapp app/socketlibrary.cpp
echo "cross-build done: build/mingw/pathlume-devsim.exe and libpathlume_protocol.a"
