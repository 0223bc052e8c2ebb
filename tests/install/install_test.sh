#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs:
# the programs, the desktop entry, the program icon in every hicolor size at
# its real pixel size, and the AppStream metainfo, naming this version; and
# what a terminal needs: a manual page per program that documents every option
# of its --help and formats without a warning, the bash completion, and the
# copyright file and changelog. The desktop entry and the metainfo go through
# their validators when present.
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
  # Each answers --version alike, by its name and this version (the window
  # without a display).
  said="$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$exe" --version 2>&1)" ||
    bad "$exe --version exits $?"
  [ "$said" = "$exe $version" ] || bad "$exe --version says '$said', not '$exe $version'"
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
grep -qx 'Categories=Settings;HardwareSettings;Printing;' "$desktop" ||
  bad "desktop entry's categories are not Settings;HardwareSettings;Printing;"
grep -qx 'StartupNotify=true' "$desktop" || bad "desktop entry has no StartupNotify=true"

# The metainfo names this version with what is new in it, the installed entry
# and both programs; any screenshot is one of docs/, at no placeholder address.
grep -q "<release version=\"$version\"" "$metainfo" || bad "metainfo release is not $version"
sed -n '/<release /,/<\/release>/p' "$metainfo" | grep -q '<li>[^<]' ||
  bad "metainfo release has no description"
for exe in pathlume pathlume-cli; do
  grep -q "<binary>$exe</binary>" "$metainfo" || bad "metainfo does not provide $exe"
done
if grep -Eq '://[^<"]*example\.(org|com|net)' "$metainfo"; then
  bad "metainfo names a placeholder address: $(grep -Eo '://[^<"]*example\.[a-z]+' "$metainfo" | head -1)"
fi
grep -q "<id>$id</id>" "$metainfo" || bad "metainfo id does not match its file name $id"
grep -q '<launchable type="desktop-id">pathlume.desktop</launchable>' "$metainfo" ||
  bad "metainfo does not launch pathlume.desktop"
while read -r image; do
  shot="$(printf '%s\n' "$image" | sed -n 's:.*/\(docs/[^<]*\)</image>.*:\1:p')"
  [ -n "$shot" ] && [ -s "$src/$shot" ] || bad "metainfo screenshot '$image' is not one in docs/"
done < <(grep '<image>' "$metainfo")

# Each program's manual page: installed compressed, every option that its
# --help names documented (roff writes - as \-), and no formatter warning.
for exe in pathlume pathlume-cli pathlume-devsim; do
  page="$prefix/share/man/man1/$exe.1.gz"
  if [ ! -s "$page" ]; then bad "no manual page for $exe"; continue; fi
  # The tags of the page's .TP entries, the place where an option is described.
  tags="$(gzip -dc "$page" | sed 's/\\-/-/g' | awk 'prev == ".TP" { print } { prev = $0 }')"
  # pathlume answers --help without a display.
  for opt in $(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$exe" --help |
               grep -Eo -- '(^|[ ,[])--?[a-z][a-z-]*' | grep -Eo -- '--?[a-z][a-z-]*' | sort -u); do
    grep -Eq -- "(^|[^a-z-])$opt([^a-z-]|\$)" <<<"$tags" || bad "$exe(1) has no entry for $opt"
  done
  if command -v groff >/dev/null; then
    warnings="$(gzip -dc "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -wmac -ww -z 2>&1)"
    [ -z "$warnings" ] || bad "$exe(1) formats with warnings: $warnings"
  fi
done
[ -s "$prefix/share/bash-completion/completions/pathlume-cli" ] || bad "no bash completion for pathlume-cli"
# The playbook and its inventory, as they are in contrib/ansible.
for f in find-devices.yml inventory.example.yml; do
  cmp -s "$src/contrib/ansible/$f" "$prefix/share/doc/pathlume/examples/$f" ||
    bad "share/doc/pathlume/examples/$f is not contrib/ansible/$f"
done
for pkg in pathlume pathlume-devsim; do
  [ -s "$prefix/share/doc/$pkg/copyright" ] || bad "no copyright file in share/doc/$pkg"
  gzip -dc "$prefix/share/doc/$pkg/changelog.gz" 2>/dev/null | head -1 | grep -q "^pathlume ($version) " ||
    bad "share/doc/$pkg/changelog.gz does not start with $version"
done

if command -v desktop-file-validate >/dev/null; then
  # Quiet, hints included: a hint is how a menu misfiles the entry.
  said="$(desktop-file-validate "$desktop" 2>&1)" || bad "desktop-file-validate"
  [ -z "$said" ] || bad "desktop-file-validate: $said"
else
  echo "desktop-file-validate not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --strict "$metainfo" || bad "appstreamcli validate"
else
  echo "appstreamcli not installed: metainfo not validated"
fi
exit "$fail"
