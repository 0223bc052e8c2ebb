#!/usr/bin/env bash
# Cross-compiles the toolkit-free parts for 64-bit Windows with mingw-w64,
# warnings as errors: the protocol library, pathlume-cli.exe,
# pathlume-devsim.exe and, when Debian's googletest sources are installed
# (package googletest), the protocol, engine and CLI test suites; then packs
# the Windows download (CPack's ZIP generator). No Qt parts. The tests are
# run under Wine by scripts/wine-test.sh.
# Exit 77 (and one line saying so) when the cross compiler is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "cross-build skipped: x86_64-w64-mingw32-g++-posix not installed (package g++-mingw-w64-x86-64-posix)"
  exit 77
fi
# The project's own headers stay free of platform headers: Windows' would
# rename the window code's SetWindowText, GetWindowText, MessageBox by macro,
# and a POSIX one would keep the file from building for Windows at all.
if grep -nE '^\s*#\s*include\s*<(winsock2?|windows|ws2tcpip|iphlpapi|io|direct|unistd|poll|fcntl|sys/[a-z_]+|arpa/[a-z_]+|netinet/[a-z_]+|net/[a-z_]+)\.h>' \
     protocol/*.h ui/*.h app/*.h tools/devsim/*.h tools/cli/*.h tests/support/*.h; then
  echo "cross-build failed: a project header includes a platform header (above)" >&2
  exit 1
fi
gtest=/usr/src/googletest
tests=ON
if [ ! -f "$gtest/CMakeLists.txt" ]; then
  echo "cross-build: no test suites ($gtest missing: package googletest)"
  tests=OFF
fi
cmake --no-warn-unused-cli -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DPATHLUME_WERROR=ON -DPATHLUME_BUILD_UI=OFF \
      -DPATHLUME_BUILD_TESTS="$tests" -DPATHLUME_GTEST_SOURCE="$gtest" -DPATHLUME_BUILD_BENCH=OFF >/dev/null
cmake --build build/mingw -j2
# The application's socket-library start is the one Windows-only file of the
# Qt side; it needs no Qt, so it is compiled here too.
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
  -Iapp app/socketlibrary.cpp

# The download: the two programs, their manual pages as text, the README.
rm -f build/mingw/pathlume-*-windows-x64.zip
(cd build/mingw && cpack -G ZIP >/dev/null)
zip_file=$(ls build/mingw/pathlume-*-windows-x64.zip)
listing=$(cmake -E tar tf "$zip_file" | sed 's|^[^/]*/||' | LC_ALL=C sort | tr '\n' ' ')
want="COPYRIGHT.txt README.txt pathlume-cli.exe pathlume-cli.txt pathlume-devsim.exe pathlume-devsim.txt "
if [ "$listing" != "$want" ]; then
  echo "cross-build failed: $zip_file holds: $listing (expected: $want)" >&2
  exit 1
fi
echo "cross-build done: build/mingw/pathlume-cli.exe, pathlume-devsim.exe$([ "$tests" = ON ] && echo ", the test suites") and $zip_file"
