#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs:
# the programs, the desktop entry, the program icon in every hicolor size at
# its real pixel size, and the AppStream metainfo, naming this version.
# The desktop entry and the metainfo go through their validators when present.
#   install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build="$1"
src="$2"
version="$3"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for exe in pathlume pathlume-cli pathlume-devsim; do
  [ -x "$prefix/bin/$exe" ] || bad "bin/$exe is not installed as an executable"
done
desktop="$prefix/share/applications/pathlume.desktop"
shopt -s nullglob
metainfos=("$prefix"/share/metainfo/*.metainfo.xml)
[ ${#metainfos[@]} -eq 1 ] || bad "expected one metainfo file, found ${#metainfos[@]}"
metainfo="${metainfos[0]:-none}"
id="$(basename "$metainfo" .metainfo.xml)"
svg="$prefix/share/icons/hicolor/scalable/apps/pathlume.svg"
for f in "$desktop" "$metainfo" "$svg"; do
  [ -s "$f" ] || bad "${f#"$prefix"/} is missing"
done
[ "$fail" -eq 0 ] || exit 1

# Each PNG is a PNG of the size its folder names (IHDR width and height).
for size in 16 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/pathlume.png"
  if [ ! -s "$png" ]; then bad "no ${size}x${size} icon"; continue; fi
  sig="$(od -An -tx1 -N8 "$png" | tr -d ' \n')"
  dims="$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')"
  [ "$sig" = 89504e470d0a1a0a ] || bad "${size}x${size} icon is not a PNG"
  [ "$dims" = "${size}x${size}" ] || bad "${size}x${size} icon is $dims"
done

# The entry starts the installed program and names the installed icon.
grep -qx 'Exec=pathlume' "$desktop" || bad "desktop entry does not run pathlume"
grep -qx 'Icon=pathlume' "$desktop" || bad "desktop entry does not name the pathlume icon"
grep -qx 'Categories=Network;' "$desktop" || bad "desktop entry's categories are not Network;"

# The metainfo names this version, the installed entry and the screenshot in docs/.
grep -q "<release version=\"$version\"" "$metainfo" || bad "metainfo release is not $version"
grep -q "<id>$id</id>" "$metainfo" || bad "metainfo id does not match its file name $id"
grep -q '<launchable type="desktop-id">pathlume.desktop</launchable>' "$metainfo" ||
  bad "metainfo does not launch pathlume.desktop"
shot="$(sed -n 's:.*<image>.*/\(docs/[^<]*\)</image>.*:\1:p' "$metainfo")"
[ -n "$shot" ] && [ -s "$src/$shot" ] || bad "metainfo screenshot '$shot' is not in the repository"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || bad "desktop-file-validate"
else
  echo "desktop-file-validate not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --strict "$metainfo" || bad "appstreamcli validate"
else
  echo "appstreamcli not installed: metainfo not validated"
fi
exit "$fail"
