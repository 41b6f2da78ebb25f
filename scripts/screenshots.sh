#!/usr/bin/env bash
# Pictures of BrindleHost's windows under Xvfb, into docs/screenshots:
# the main window in Japanese and English, the tray menu, the version box,
# a preview and the camera control dialog (プロパティ).
#
#   scripts/screenshots.sh        PRESET=dev (the default)
set -eu
cd "$(dirname "$0")/.."

PRESET="${PRESET:-dev}"
./scripts/bootstrap.sh
cmake --preset "$PRESET" >/dev/null
cmake --build "build/$PRESET" --target host_screenshots
mkdir -p docs/screenshots
PROGRAM="build/$PRESET/tests/server/host_screenshots"
for language in ja en; do
    env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$PROGRAM" docs/screenshots "$language"
done
