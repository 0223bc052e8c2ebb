#!/usr/bin/env bash
# Builds Qt 6 for 64-bit Windows (x86_64-w64-mingw32) from Debian 12's own
# qt6-base source, once, and keeps it in a cache folder outside the tree:
#   ${PATHLUME_QT_CACHE:-/var/cache/pathlume}/qt6-mingw-<version>-<hash>
# where <hash> is taken over the configure options and the cross toolchain,
# so a changed option builds a new folder and an unchanged one is reused.
# Only what the window and its test suites need is built: Core, Gui, Widgets,
# Test, the windows and offscreen platform plugins, the Fusion and Windows
# styles (with the plugin that draws the Windows style through the system's
# themes, as programs on Windows look). The host's Qt tools (moc, rcc, uic; package qt6-base-dev-tools) do
# the code generation (QT_HOST_PATH=/usr), so their version must match.
# No prebuilt binary is downloaded: the source comes through apt-get source
# with a private sources list and a private apt state folder; the system's
# apt configuration is not touched.
#
#   scripts/qt-mingw.sh            build when missing, print the prefix last
#   scripts/qt-mingw.sh --prefix   print the prefix only (nothing is built)
#   scripts/qt-mingw.sh --check    exit 0 when the cached build is complete
#
# Environment: PATHLUME_QT_CACHE (cache root), PATHLUME_QT_JOBS (default 2),
# PATHLUME_QT_NICE (default 5).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

qt_version=6.4.2
deb_version=6.4.2+dfsg-10
host_qt_cmake=/usr/lib/x86_64-linux-gnu/cmake
cache_root=${PATHLUME_QT_CACHE:-/var/cache/pathlume}
jobs=${PATHLUME_QT_JOBS:-2}
niceness=${PATHLUME_QT_NICE:-5}
triple=x86_64-w64-mingw32

# No Direct2D, and so no DirectWrite 3 font database either: QtGui builds
# that database only with Direct2D, while the windows platform plugin asks
# for it whenever DirectWrite 3 is on, and then fails to link. Fonts come
# through GDI and FreeType, as on older Windows.
# No tablet events: Debian's source leaves out the Wintab header (its licence
# allows no changes), without which the windows platform plugin does not
# build with them.
# The options that decide what is built. Changing any of these lines makes a
# new cache folder. Optimized for size (-Os): smaller DLLs to ship, and a
# shorter build than Qt's default -O3.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DFEATURE_optimize_size=ON
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
  -DFEATURE_gui=ON
  -DFEATURE_widgets=ON
  -DFEATURE_testlib=ON
  -DFEATURE_opengl=OFF
  -DINPUT_opengl=no
  -DFEATURE_vulkan=OFF
  -DFEATURE_direct2d=OFF
  -DFEATURE_directwrite3=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_freetype=ON
  -DFEATURE_style_fusion=ON
  -DFEATURE_style_windows=ON
  -DFEATURE_style_windowsvista=ON
)
compiler_id=$( (${triple}-g++-posix --version 2>/dev/null || echo none) | head -1)
hash=$(printf '%s\n' "$deb_version" "$compiler_id" "${options[@]}" | sha256sum | cut -c1-12)
prefix=$cache_root/qt6-mingw-$qt_version-$hash
stamp=$prefix/.pathlume-complete

case "${1:-}" in
  --prefix) echo "$prefix"; exit 0 ;;
  --check) [ -f "$stamp" ]; exit ;;
  "") ;;
  *) echo "usage: $0 [--prefix|--check]" >&2; exit 2 ;;
esac

if [ -f "$stamp" ]; then
  echo "qt-mingw: reusing $prefix ($(cat "$stamp"))"
  echo "$prefix"
  exit 0
fi

for tool in ${triple}-g++-posix apt-get dpkg-source cmake ninja; do
  command -v "$tool" >/dev/null || { echo "qt-mingw: $tool missing (scripts/setup.sh with PATHLUME_WITH_CROSS=1)" >&2; exit 1; }
done
host_have=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ "$host_have" != "$deb_version" ]; then
  echo "qt-mingw: the host's qt6-base-dev-tools is '${host_have:-not installed}', the build needs $deb_version" >&2
  exit 1
fi
[ -f "$host_qt_cmake/Qt6HostInfo/Qt6HostInfoConfig.cmake" ] ||
  { echo "qt-mingw: $host_qt_cmake/Qt6HostInfo missing (package qt6-base-dev)" >&2; exit 1; }

started=$(date +%s)
work=$cache_root/work-qt6-mingw-$qt_version-$hash
mkdir -p "$work"

# 1. The source, through a private apt state: a sources list with only a
#    deb-src line, lists and cache in $fetch/apt. Kept for every set of
#    options.
fetch=$cache_root/src-qt6-base-$deb_version
src=$fetch/qt6-base-$qt_version+dfsg
if [ ! -f "$src/CMakeLists.txt" ]; then
  rm -rf "$fetch"
  mkdir -p "$fetch"
  apt_dir=$fetch/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/sources.list.d" "$apt_dir/etc/preferences.d"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    > "$apt_dir/etc/sources.list"
  apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/etc/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d"
    -o "Dir::Etc::Preferences=$apt_dir/etc/preferences"
    -o "Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d"
    -o "Dir::State=$apt_dir"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::State::status=/var/lib/dpkg/status"
    -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=root"
  )
  apt-get -q "${apt_opts[@]}" update
  (cd "$fetch" && apt-get -q "${apt_opts[@]}" source "qt6-base=$deb_version")
fi
[ -f "$src/CMakeLists.txt" ] || { echo "qt-mingw: no source tree at $src" >&2; exit 1; }

# 2. A toolchain file of its own: the project's file adds -static and the
#    project's Windows version, which are not Qt's to take.
cat > "$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# 3. Configure, build, install. A failed build keeps $work, so a rerun
#    continues where ninja stopped.
build=$work/build
rm -rf "$prefix"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_qt_cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${options[@]}"
fi
configured=$(date +%s)
echo "qt-mingw: configured in $((configured - started)) s; building with -j$jobs"
nice -n "$niceness" cmake --build "$build" -j "$jobs"
cmake --install "$build" >/dev/null
finished=$(date +%s)
echo "built $(date -u +%Y-%m-%dT%H:%MZ) in $((finished - started)) s from qt6-base $deb_version" > "$stamp"
echo "qt-mingw: Qt $qt_version for $triple built and installed in $((finished - started)) s ($(( (finished - started) / 60 )) min) into $prefix"
echo "$prefix"
