#!/usr/bin/env bash
# Makes the LibreOffice-written metafiles the playback tests read. Needs LibreOffice Draw
# (libreoffice-draw from Debian), installed by hand: it is not one of the project's
# dependencies, and the outputs are committed.
#
#   libreoffice-shapes.{emf,wmf}       red rectangle, blue ellipse, green line (polygons, paths)
#   libreoffice-bitmap-text.{emf,wmf}  a 4 x 2 PNG stretched 20 times, and a line of text
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/libreoffice-shapes.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100" viewBox="0 0 200 100">
  <rect x="0" y="0" width="200" height="100" fill="#ffffff"/>
  <rect x="20" y="10" width="60" height="40" fill="#ff0000"/>
  <ellipse cx="150" cy="60" rx="30" ry="25" fill="#0000ff"/>
  <polyline points="10,90 190,90" stroke="#00aa00" stroke-width="4" fill="none"/>
</svg>
EOF

python3 - "$work/libreoffice-bitmap-text.svg" <<'EOF'
import base64, struct, sys, zlib
# 4 x 2 pixels: red red green green / blue blue yellow yellow.
rows = [[(255, 0, 0)] * 2 + [(0, 255, 0)] * 2, [(0, 0, 255)] * 2 + [(255, 255, 0)] * 2]
raw = b''.join(b'\x00' + bytes(v for c in r for v in c) for r in rows)
def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 4, 2, 8, 2, 0, 0, 0)) +
       chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
href = 'data:image/png;base64,' + base64.b64encode(png).decode()
open(sys.argv[1], 'w').write(f'''<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="160" height="100" viewBox="0 0 160 100">
  <image x="10" y="10" width="80" height="40" preserveAspectRatio="none" style="image-rendering:pixelated" xlink:href="{href}"/>
  <text x="10" y="85" font-family="DejaVu Sans" font-size="24" fill="#000000">Pellavo</text>
</svg>''')
EOF

for name in libreoffice-shapes libreoffice-bitmap-text; do
  for ext in emf wmf; do
    soffice --headless --convert-to "$ext" --outdir "$work" "$work/$name.svg" >/dev/null
    cp "$work/$name.$ext" .
  done
done
