#!/usr/bin/env bash
# The Windows programs start on a machine that has nothing of ours: every DLL
# that a shipped program or DLL (the toolkit's plugins in their folders too)
# imports is shipped beside the programs, or is one of Windows' own
# (cmake/windows-system-dlls.txt, and the api-ms-win-* sets). A window
# program also needs its platform plugin. Checked over the ZIP download or
# over an installed folder.
#   windows_dlls_test.sh ZIP|FOLDER
# OBJDUMP names the objdump that reads Windows programs
# (x86_64-w64-mingw32-objdump by default).
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
target="$1"
objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [ -f "$target" ]; then
  mkdir "$work/unpacked"
  zip_path="$(cd "$(dirname "$target")" && pwd)/$(basename "$target")"
  (cd "$work/unpacked" && cmake -E tar xf "$zip_path")
  root="$work/unpacked"
  # the ZIP's one top folder
  if [ "$(ls "$root" | wc -l)" -eq 1 ] && [ -d "$root/$(ls "$root")" ]; then root="$root/$(ls "$root")"; fi
else
  root="$target"
fi
lower() { tr '[:upper:]' '[:lower:]'; }
grep -v '^#' "$src/cmake/windows-system-dlls.txt" | sed '/^$/d' | lower >"$work/system"
find "$root" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' | lower >"$work/shipped"

failures=0
files=0
imports=0
while IFS= read -r -d '' file; do
  files=$((files + 1))
  name="${file#"$root"/}"
  if ! "$objdump" -p "$file" >"$work/dump" 2>"$work/dump.err"; then
    echo "FAILED: $name cannot be read as a Windows program: $(head -n 1 "$work/dump.err")"
    failures=$((failures + 1))
    continue
  fi
  while IFS= read -r dll; do
    imports=$((imports + 1))
    if grep -qxF "$dll" "$work/shipped" || grep -qxF "$dll" "$work/system" ||
       [[ "$dll" == api-ms-win-* || "$dll" == ext-ms-win-* ]]; then
      continue
    fi
    echo "FAILED: $name imports $dll, which is neither shipped beside the programs nor Windows' own"
    failures=$((failures + 1))
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/dump" | tr -d '\r' | lower)
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

if [ "$files" -eq 0 ]; then
  echo "FAILED: no program in $target"
  failures=$((failures + 1))
fi
if [ -f "$root/pathlume.exe" ] && [ ! -f "$root/platforms/qwindows.dll" ]; then
  echo "FAILED: pathlume.exe is shipped without its platform plugin (platforms/qwindows.dll)"
  failures=$((failures + 1))
fi
echo "windows dlls: $files programs and DLLs, $imports imports, $failures failure(s)"
[ "$failures" -eq 0 ]
