#!/usr/bin/env python3
"""Renders the Windows program icon, resources/windows/pathlume.ico, from the
drawn artwork: 16 px from its own hand-tuned cut (program-icon-16.svg), 24,
32, 48 and 256 px from program-icon.svg, each kept as PNG inside the icon
file (Windows Vista and later read them so). Needs rsvg-convert (package
librsvg2-bin). Run it after changing the artwork and commit the result; the
build takes the committed file, so the Windows build needs no image tools.
"""
import pathlib
import struct
import subprocess
import sys
import tempfile

root = pathlib.Path(__file__).resolve().parent.parent
art = root / "resources" / "art"
out = root / "resources" / "windows" / "pathlume.ico"

images = []
with tempfile.TemporaryDirectory() as tmp:
    for size in (16, 24, 32, 48, 256):
        src = art / ("program-icon-16.svg" if size == 16 else "program-icon.svg")
        png = pathlib.Path(tmp) / f"{size}.png"
        subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", str(png), str(src)],
                       check=True)
        images.append((size, png.read_bytes()))

header = struct.pack("<HHH", 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b""
for size, data in images:
    side = 0 if size == 256 else size   # 0 stands for 256 in the directory
    entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
out.write_bytes(header + entries + b"".join(data for _, data in images))
print(f"{out.relative_to(root)}: {len(images)} images, {out.stat().st_size} bytes", file=sys.stderr)
