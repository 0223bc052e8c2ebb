#!/usr/bin/env bash
# Cross-compiles for 64-bit Windows with mingw-w64, warnings as errors: the
# protocol library, pathlume-cli.exe, pathlume-devsim.exe and, when Debian's
# googletest sources are installed (package googletest), the protocol,
# engine and CLI test suites; with the Qt for mingw-w64 that
# scripts/qt-mingw.sh builds (when it has been built) also the window,
# pathlume.exe, and its test suite ui_tests.exe. Then packs the Windows
# download (CPack's ZIP generator: the programs with every DLL they load)
# and checks every shipped file's DLL imports, and makes the installer
# (CPack's NSIS generator) when makensis is installed (package nsis). The
# tests are run under Wine by scripts/wine-test.sh.
# PATHLUME_REQUIRE_WINDOW=1: fail instead of leaving the window out when
# that Qt has not been built.
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
# The window needs the Qt built for mingw-w64 (scripts/qt-mingw.sh), whose
# toolchain file loads the project's.
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake")
ui=OFF
# The window is built whenever that Qt is there; PATHLUME_WITH_WINDOW=0
# leaves it out.
want_window=1
if [ "${PATHLUME_WITH_WINDOW:-1}" = 0 ] && [ "${PATHLUME_REQUIRE_WINDOW:-0}" != 1 ]; then want_window=0; fi
if [ "$want_window" = 0 ]; then
  echo "cross-build: no window (PATHLUME_WITH_WINDOW=0)"
elif scripts/qt-mingw.sh --check; then
  qt=$(scripts/qt-mingw.sh --prefix)
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake"
             -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake")
  ui=ON
elif [ "${PATHLUME_REQUIRE_WINDOW:-0}" = 1 ]; then
  echo "cross-build failed: no Qt for mingw-w64 at $(scripts/qt-mingw.sh --prefix) (run scripts/qt-mingw.sh)" >&2
  exit 1
else
  echo "cross-build: no window (no Qt for mingw-w64 at $(scripts/qt-mingw.sh --prefix): scripts/qt-mingw.sh builds it)"
fi
# A build folder made with the other toolchain starts again.
if [ -f build/mingw/CMakeCache.txt ] && ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=${toolchain[0]#-DCMAKE_TOOLCHAIN_FILE=}" build/mingw/CMakeCache.txt; then
  rm -rf build/mingw/CMakeCache.txt build/mingw/CMakeFiles
fi
cmake --no-warn-unused-cli -S . -B build/mingw -G Ninja "${toolchain[@]}" \
      -DCMAKE_BUILD_TYPE=Release -DPATHLUME_WERROR=ON -DPATHLUME_BUILD_UI="$ui" \
      -DPATHLUME_BUILD_TESTS="$tests" -DPATHLUME_GTEST_SOURCE="$gtest" -DPATHLUME_BUILD_BENCH=OFF >/dev/null
cmake --build build/mingw -j2
# The application's socket-library start is the one Windows-only file of the
# Qt side; it needs no Qt, so it is compiled here too.
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
  -Iapp app/socketlibrary.cpp

# The download: the programs, their manual pages as text, the README; with
# the window, the DLLs it loads and the toolkit's plugins.
rm -f build/mingw/pathlume-*-windows-x64.zip build/mingw/pathlume-*-windows-x64.exe
(cd build/mingw && cpack -G ZIP >/dev/null)
zip_file=$(ls build/mingw/pathlume-*-windows-x64.zip)
listing=$(cmake -E tar tf "$zip_file" | sed 's|^[^/]*/||' | LC_ALL=C sort | tr '\n' ' ')
want="COPYRIGHT.txt README.txt pathlume-cli.exe pathlume-cli.txt pathlume-devsim.exe pathlume-devsim.txt "
if [ "$ui" = ON ]; then
  # What the window cannot start without, at the least; the rest is found
  # from the imports, and checked below.
  for f in pathlume.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll \
           libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
    [[ " $listing " == *" $f "* ]] || { echo "cross-build failed: $zip_file lacks $f" >&2; exit 1; }
  done
  listing=$(tr ' ' '\n' <<<"$listing" | grep -vE '^(|pathlume\.exe|.*\.dll|.*/)$' | tr '\n' ' ')
fi
if [ "$listing" != "$want" ]; then
  echo "cross-build failed: $zip_file holds: $listing (expected: $want)" >&2
  exit 1
fi
tests/install/windows_dlls_test.sh "$zip_file"
if [ "$ui" = ON ]; then
  # The check itself: the same files without Qt6Core.dll must fail it.
  probe=$(mktemp -d)
  zip_path="$PWD/$zip_file"
  (cd "$probe" && cmake -E tar xf "$zip_path")
  rm "$probe"/*/Qt6Core.dll
  if tests/install/windows_dlls_test.sh "$probe"/* >/dev/null; then
    echo "cross-build failed: the DLL check passes the download without Qt6Core.dll" >&2
    rm -rf "$probe"
    exit 1
  fi
  rm -rf "$probe"
fi
installer=""
if command -v makensis >/dev/null; then
  (cd build/mingw && cpack -G NSIS >/dev/null)
  installer=$(ls build/mingw/pathlume-*-windows-x64.exe)
else
  echo "cross-build: no installer (makensis not installed: package nsis)"
fi
echo "cross-build done: build/mingw/pathlume-cli.exe, pathlume-devsim.exe$([ "$ui" = ON ] && echo ", pathlume.exe")$([ "$tests" = ON ] && echo ", the test suites") and $zip_file${installer:+ and $installer}"
