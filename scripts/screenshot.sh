#!/usr/bin/env bash
# Renders the main window after a Seek against three simulated devices and a
# click on the first row (whose row is then marked), and the Edit Config form
# opened on that device, headless, at 100 % and at 150 %:
#   docs/main-window.png      docs/edit-config.png
#   docs/main-window-150.png  docs/edit-config-150.png
# The headless screen is 1920 x 1200 pixels, so the windows show whole at
# either scale.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test --target pathlume-screenshot
mkdir -p docs
screen=$(mktemp --suffix=.json)
trap 'rm -f "$screen"' EXIT
cat >"$screen" <<'JSON'
{ "screens": [ { "name": "screen", "x": 0, "y": 0, "width": 1920, "height": 1200,
                 "logicalDpi": 96, "logicalBpp": 32, "dpr": 1 } ] }
JSON
for scale in 100 150; do
  suffix=""
  [ "$scale" = 100 ] || suffix="-$scale"
  QT_QPA_PLATFORM="offscreen:configfile=$screen" QT_SCALE_FACTOR=$((scale / 100)).$((scale % 100)) \
    build/test/pathlume-screenshot "docs/main-window$suffix.png" 3 --click 0 \
    --form "docs/edit-config$suffix.png"
  echo "wrote docs/main-window$suffix.png and docs/edit-config$suffix.png"
done
