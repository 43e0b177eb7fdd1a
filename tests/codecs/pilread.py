#!/usr/bin/env python3
"""Prints a picture as Pillow reads it: a line "width height mode", then the
first frame's pixels as RGBA bytes, top row first. Exits non-zero when Pillow
is missing or cannot read the file.

With --serve, reads one path per line from standard input and answers each
with "OK width height mode" and the bytes, or "ERR reason", so that a test
program starts Python once."""
import sys

try:
    from PIL import Image
except ImportError:
    sys.stderr.write("Pillow is not installed (Debian package python3-pil)\n")
    sys.exit(3)


def read(path):
    with Image.open(path) as image:
        image.seek(0)
        mode = image.mode
        rgba = image.convert("RGBA")
        return f"{rgba.width} {rgba.height} {mode}\n".encode(), rgba.tobytes()


out = sys.stdout.buffer
if sys.argv[1] == "--serve":
    for line in sys.stdin.buffer:
        try:
            header, pixels = read(line.rstrip(b"\n").decode())
            out.write(b"OK " + header + pixels)
        except Exception as error:  # the reason goes back to the test
            out.write(b"ERR " + str(error).replace("\n", " ").encode() + b"\n")
        out.flush()
else:
    header, pixels = read(sys.argv[1])
    out.write(header + pixels)
