#!/usr/bin/env bash
# Redraws the README's pictures of the settings window and the tray menu (docs/settings-window.png,
# docs/tray-menu.png) with the real widgets on a private Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build --target settings_screenshots -j"$(nproc)"
QT_QPA_PLATFORM=xcb bash scripts/with-xvfb.sh build/tests/settings_screenshots docs
