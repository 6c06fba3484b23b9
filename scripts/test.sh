#!/usr/bin/env bash
# Installs what is needed, builds TovikNote with its tests and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TOVIK_BUILD_DIR:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
# GUI tests draw offscreen; nothing here needs a display.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j 4 --timeout 300
