#!/bin/sh
# Saves the image viewer's screenshots into docs/screenshots/viewer-*.png:
# builds the screenshot program (dev preset) and runs it on a virtual X
# server with Japanese fonts (Debian: xvfb, fonts-ipafont-gothic).
#   scripts/screenshots_viewer.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/dev}
[ -d "$build" ] || cmake --preset dev
cmake --build "$build" --target viewer_screenshots
out=docs/screenshots
mkdir -p "$out"
# The fonts of the windows: IPA Gothic for the Japanese texts.
export QT_QPA_PLATFORM=xcb LANG=ja_JP.UTF-8
exec xvfb-run -a -s "-screen 0 1280x900x24" "$build/tests/viewer/viewer_screenshots" "$out"
