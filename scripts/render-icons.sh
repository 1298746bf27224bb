#!/usr/bin/env bash
# Renders the program's PNG icons from its SVG (needs rsvg-convert, Debian package
# librsvg2-bin). The PNGs are committed; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../data/desktop"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" com.varnex.BulkSMS.svg -o "com.varnex.BulkSMS-$size.png"
done
