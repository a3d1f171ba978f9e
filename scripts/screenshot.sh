#!/usr/bin/env bash
# Renders a QML document to a PNG on a virtual X display.
#   scripts/screenshot.sh [QML] [PNG] [extra tessaly-screenshot options]
# Defaults: the control gallery (tests/gallery/Gallery.qml) to build/gallery.png.
# Runs in a private network namespace, since the application context it
# creates may open sockets.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
qml="${1:-$root/tests/gallery/Gallery.qml}"
out="${2:-$build_dir/gallery.png}"
shift $(( $# > 2 ? 2 : $# ))

"$root/scripts/build.sh"

export QT_QUICK_BACKEND=software
exec "$root/scripts/netns.sh" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build_dir/bin/tessaly-screenshot" --qml "$qml" --out "$out" "$@"
