#!/usr/bin/python3
"""Reads .ico files with a reader we did not write and prints their pixels.

    icoread.py READER FILE...

READER is "pillow" (Pillow's ICO plugin), "icotool" (icoutils' extractor,
its PNG read with Pillow) or "magick" (ImageMagick's convert, its PNG read
with Pillow). For each file the output is either

    FILE <path>
    SIZE <width> <height>
    <height lines of width pixels, each RRGGBBAA in hex, no separators>

or

    FILE <path>
    REFUSED <reason>

when the reader refuses the file. A missing tool or module ends the whole
run with exit status 77 and the reason on stderr.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError as error:
    sys.stderr.write("Pillow is not available: %s\n" % error)
    sys.exit(77)


def pixels_of(image):
    rgba = image.convert("RGBA")
    width, height = rgba.size
    data = rgba.tobytes()
    rows = []
    stride = width * 4
    for y in range(height):
        rows.append(data[y * stride:(y + 1) * stride].hex().upper())
    return width, height, rows


def read_pillow(path, scratch):
    with Image.open(path) as image:
        image.load()
        return pixels_of(image)


def read_icotool(path, scratch):
    out = os.path.join(scratch, "icotool")
    os.makedirs(out, exist_ok=True)
    for old in glob.glob(os.path.join(out, "*")):
        os.remove(old)
    result = subprocess.run(["icotool", "-x", "-o", out, path], capture_output=True, text=True)
    extracted = sorted(glob.glob(os.path.join(out, "*.png")))
    if result.returncode != 0 or len(extracted) != 1:
        raise ValueError("icotool: exit %d, %d images, %s" %
                         (result.returncode, len(extracted), result.stderr.strip()))
    with Image.open(extracted[0]) as image:
        image.load()
        return pixels_of(image)


def read_magick(path, scratch):
    out = os.path.join(scratch, "magick.png")
    convert = "/usr/bin/convert"
    result = subprocess.run([convert, "ico:" + path, "png32:" + out], capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError("convert: exit %d, %s" % (result.returncode, result.stderr.strip()))
    with Image.open(out) as image:
        image.load()
        return pixels_of(image)


READERS = {"pillow": read_pillow, "icotool": read_icotool, "magick": read_magick}
TOOLS = {"icotool": "icotool", "magick": "/usr/bin/convert"}


def main(argv):
    if len(argv) < 2 or argv[0] not in READERS:
        sys.stderr.write(__doc__)
        return 2
    reader = argv[0]
    tool = TOOLS.get(reader)
    if tool and shutil.which(tool) is None:
        sys.stderr.write("%s is not installed\n" % tool)
        return 77
    out = sys.stdout
    with tempfile.TemporaryDirectory() as scratch:
        for path in argv[1:]:
            out.write("FILE %s\n" % path)
            try:
                width, height, rows = READERS[reader](path, scratch)
            except Exception as error:  # the reader's refusal is reported, not hidden
                out.write("REFUSED %s\n" % " ".join(str(error).split()))
                continue
            out.write("SIZE %d %d\n" % (width, height))
            for row in rows:
                out.write(row + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
