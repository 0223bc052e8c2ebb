#!/usr/bin/env bash
# Renders the main window after a Seek against three simulated devices and a
# click on the first row, and the Edit Config form opened on that device,
# headless, into docs/main-window.png and docs/edit-config.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test --target pathlume-screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/test/pathlume-screenshot docs/main-window.png 3 --click 0 \
  --form docs/edit-config.png
echo "wrote docs/main-window.png and docs/edit-config.png"
