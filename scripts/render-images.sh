#!/usr/bin/env bash
# Renders the SVG sources in resources/svg/ into the PNG marks and the icon
# that the tool embeds. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
svg="$root/resources/svg"
out="$root/resources"

# Each image also at twice the size, as NAME@2x.png: Qt draws that one on
# screens of device pixel ratio 2 (and 1.5), where the first would be blurred.
for name in lock-open lock-closed unknown changelog-ok changelog-fail calendar; do
  rsvg-convert -w 64 -h 64 "$svg/$name.svg" -o "$out/$name.png"
  rsvg-convert -w 128 -h 128 "$svg/$name.svg" -o "$out/$name@2x.png"
done
rsvg-convert -w 256 -h 200 "$svg/empty_page.svg" -o "$out/empty_page.png"
rsvg-convert -w 512 -h 400 "$svg/empty_page.svg" -o "$out/empty_page@2x.png"

# The icon: one 64 x 64 PNG image inside an .ico container.
tmp="$(mktemp --suffix=.png)"
trap 'rm -f "$tmp"' EXIT
rsvg-convert -w 64 -h 64 "$svg/tesstool.svg" -o "$tmp"
python3 - "$tmp" "$out/tesstool.ico" <<'PY'
import struct, sys
png = open(sys.argv[1], 'rb').read()
header = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 64, 64, 0, 0, 1, 32, len(png), 22)
open(sys.argv[2], 'wb').write(header + png)
PY
