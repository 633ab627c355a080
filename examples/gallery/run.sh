#!/bin/sh
# Opens lumora_gallery on the display. Without a display it starts under Xvfb (offscreen when
# Xvfb is missing), rests the pointer on an input until its tip shows, saves the screen as PNG
# (once with a normal tip, once with a balloon) and exits.
#   examples/gallery/run.sh [build directory]
set -eu
build=${1:-build}
bin="$build/bin/lumora_gallery"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$bin"
fi
for tip in normal balloon; do
    shot="$build/gallery-$tip.png"
    if command -v xvfb-run >/dev/null 2>&1; then
        xvfb-run -a -s "-screen 0 1280x800x24" "$bin" --screenshot "$shot" --tip "$tip"
    else
        QT_QPA_PLATFORM=offscreen "$bin" --screenshot "$shot" --tip "$tip"
    fi
done
echo "No display: the gallery's screenshots are in $build/gallery-normal.png and $build/gallery-balloon.png"
