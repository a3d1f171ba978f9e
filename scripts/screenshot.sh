#!/usr/bin/env bash
# Renders the user interface to PNG files on a virtual X display, inside a
# private network namespace (the application context may open sockets).
#   scripts/screenshot.sh [QML] [PNG] [extra tessaly-screenshot options]
#       one QML document; defaults: the control gallery (tests/gallery/Gallery.qml)
#       to build/gallery.png
#   scripts/screenshot.sh --pages [OUTPUT_DIR] [--scale S]...
#       the main window's pages (welcome, settings for one and several servers,
#       at the narrowest pane, for a server without interface control,
#       progress, summary), the open zone list and the calendar, against the
#       demo fleet; default build/screenshots. Once per scale factor (default
#       1, 1.5 and 2, as QT_SCALE_FACTOR), each into OUTPUT_DIR/scale-S.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
export QT_QUICK_BACKEND=software

if [ "${1:-}" = "--pages" ]; then
  shift
  out="$build_dir/screenshots"
  if [ "$#" -gt 0 ] && [ "$1" != "--scale" ]; then
    out="$1"
    shift
  fi
  scales=()
  while [ "$#" -gt 0 ]; do
    if [ "$1" != "--scale" ] || [ "$#" -lt 2 ]; then
      echo "usage: $0 --pages [OUTPUT_DIR] [--scale S]..." >&2
      exit 2
    fi
    scales+=("$2")
    shift 2
  done
  [ "${#scales[@]}" -gt 0 ] || scales=(1 1.5 2)
  export TESSALY_SOURCE_DIR="$root"
  export TESSALY_SCREENSHOT_FLEET="$root/tools/peer-sim/fleets/demo.json"
  for scale in "${scales[@]}"; do
    mkdir -p "$out/scale-$scale"
    export TESSALY_SCREENSHOT_DIR="$(cd "$out/scale-$scale" && pwd)"
    # Room for the window at twice its size, and its dialogs beside it.
    QT_SCALE_FACTOR="$scale" "$root/scripts/netns.sh" xvfb-run -a -s "-screen 0 2800x1800x24" \
      "$build_dir/bin/tessaly_qml_tests" -input "$root/tests/qml/screens/PageShots.qml" -import qrc:/src/qml
    ls "$TESSALY_SCREENSHOT_DIR"/*.png
  done
  exit 0
fi

qml="${1:-$root/tests/gallery/Gallery.qml}"
out="${2:-$build_dir/gallery.png}"
shift $(( $# > 2 ? 2 : $# ))

exec "$root/scripts/netns.sh" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build_dir/bin/tessaly-screenshot" --qml "$qml" --out "$out" "$@"
