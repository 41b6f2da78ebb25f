#!/bin/sh
# Renders the programs' icons (dist/icons/*.svg, drawn by hand) into the PNG
# sizes that the hicolor theme and the windows use. Run it after changing an
# SVG and commit the PNGs with it; the build takes them as they are.
# Needs rsvg-convert (librsvg2-bin).
set -eu
cd "$(dirname "$0")/../dist/icons"
for name in brindle-host brindle-view; do
    for size in 48 256; do
        rsvg-convert --width "$size" --height "$size" "$name.svg" --output "$name-$size.png"
    done
done
