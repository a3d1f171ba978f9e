#!/usr/bin/env bash
# Renders the SVG sources in resources/svg/ into the PNG marks and the icon
# that the tool embeds. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
svg="$root/resources/svg"
out="$root/resources"

for name in lock-open lock-closed unknown changelog-ok changelog-fail calendar; do
  rsvg-convert -w 64 -h 64 "$svg/$name.svg" -o "$out/$name.png"
done
rsvg-convert -w 256 -h 200 "$svg/empty_page.svg" -o "$out/empty_page.png"

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
