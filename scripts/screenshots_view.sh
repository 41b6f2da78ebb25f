#!/bin/sh
# Screenshots of BrindleView's windows on a virtual X server, into
# docs/screenshots/view-*.png. Needs xvfb and fonts-ipafont-gothic.
#   scripts/screenshots_view.sh [BUILD_DIR]     (default build/dev)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cmake --build "$build" --target view_screenshots
tool=$build/tests/client/view_screenshots
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$tool" "$data/view" "$root/docs/screenshots"
