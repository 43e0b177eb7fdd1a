#!/usr/bin/env python3
"""Prints a picture as Pillow reads it: a line "width height mode", then the
first frame's pixels as RGBA bytes, top row first. Exits non-zero when Pillow
is missing or cannot read the file."""
import sys

try:
    from PIL import Image
except ImportError:
    sys.stderr.write("Pillow is not installed (Debian package python3-pil)\n")
    sys.exit(3)

with Image.open(sys.argv[1]) as image:
    image.seek(0)
    mode = image.mode
    rgba = image.convert("RGBA")
    out = sys.stdout.buffer
    out.write(f"{rgba.width} {rgba.height} {mode}\n".encode())
    out.write(rgba.tobytes())
