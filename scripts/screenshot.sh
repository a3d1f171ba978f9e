#!/usr/bin/env bash
# Renders the main window's pages against a simulated fleet, under a virtual
# X server and inside a private network namespace.
#   scripts/screenshot.sh [OUTPUT_DIR]     (default: build/screenshots)
# TESSALY_SCREENSHOT_FLEET names another fleet file of tests/qml/data.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
out="${1:-$build_dir/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

"$root/scripts/build.sh"

export TESSALY_SCREENSHOT_DIR="$out"
export TESSALY_SOURCE_DIR="$root"
export QT_QUICK_BACKEND=software
"$root/scripts/netns.sh" xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build_dir/bin/tessaly_qml_tests" -input "$root/tests/qml/screens/PageShots.qml" -import qrc:/src/qml
ls "$out"/*.png
