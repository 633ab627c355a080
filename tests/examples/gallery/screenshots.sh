#!/bin/sh
# Screenshots of lumora_gallery without a display: its test shows the window under Xvfb
# (offscreen when Xvfb is missing), rests the pointer on an input until its tip shows, once with
# a normal tip and once with a balloon, and saves BUILD/gallery-normal.png and
# BUILD/gallery-balloon.png.
#   tests/examples/gallery/screenshots.sh [build directory]   (gallery_test built there)
set -eu
build=$(cd "${1:-build}" && pwd)
test="$build/bin/gallery_test"
export QORV_TEST_DATA="$build"
if command -v xvfb-run >/dev/null 2>&1; then
    env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" "$test" a_tip_shows_over_an_input
else
    QT_QPA_PLATFORM=offscreen "$test" a_tip_shows_over_an_input
fi
echo "No display: the gallery's screenshots are in $build/gallery-normal.png and $build/gallery-balloon.png"
