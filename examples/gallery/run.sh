#!/bin/sh
# Opens lumora_gallery on the display. Without a display, the gallery's test takes its
# screenshots instead (tests/examples/gallery/screenshots.sh).
#   examples/gallery/run.sh [build directory]
set -eu
build=${1:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$build/bin/lumora_gallery"
fi
exec "$(dirname "$0")/../../tests/examples/gallery/screenshots.sh" "$build"
