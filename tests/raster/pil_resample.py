#!/usr/bin/env python3
"""The reference for the resampler tests: a picture scaled by Pillow in linear
light with premultiplied opacity.

Usage: pil_resample.py PICTURE WIDTH HEIGHT FILTER [WIDTH HEIGHT FILTER ...]
with FILTER "box" or "lanczos". Pillow reads the picture (first frame) as
straight RGBA; every channel goes through the sRGB curve to linear light and
is multiplied by the opacity; each channel is then resized on its own as a
32-bit float image (mode "F"), so nothing is rounded to 8 bits between the
two passes; finally the colour is divided by the opacity (opacity 0 gives
colour 0) and turned back into 8-bit sRGB.

For each size the answer is a line "OK width height", then width * height *
4 bytes R, G, B, A, top row first. Exits non-zero when Pillow is missing or
the picture cannot be read."""
import sys

try:
    from PIL import Image
except ImportError:
    sys.stderr.write("Pillow is not installed (Debian package python3-pil)\n")
    sys.exit(3)

FILTERS = {"box": Image.BOX, "lanczos": Image.LANCZOS}


def to_linear(v):
    c = v / 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def to_srgb(linear):
    if not linear > 0:
        return 0
    if linear >= 1:
        return 255
    c = linear * 12.92 if linear <= 0.0031308 else 1.055 * linear ** (1 / 2.4) - 0.055
    return min(255, max(0, int(c * 255 + 0.5)))


def main(argv):
    with Image.open(argv[1]) as picture:
        picture.seek(0)
        rgba = picture.convert("RGBA")
    size = rgba.size
    table = [to_linear(v) for v in range(256)]
    alpha = [a / 255.0 for a in rgba.getchannel("A").getdata()]
    planes = []
    for band in "RGB":
        values = rgba.getchannel(band).getdata()
        planes.append([table[v] * a for v, a in zip(values, alpha)])
    planes.append(alpha)
    images = []
    for plane in planes:
        image = Image.new("F", size)
        image.putdata(plane)
        images.append(image)

    out = sys.stdout.buffer
    wanted = argv[2:]
    for k in range(0, len(wanted), 3):
        width, height, name = int(wanted[k]), int(wanted[k + 1]), wanted[k + 2]
        r, g, b, a = (list(im.resize((width, height), FILTERS[name]).getdata()) for im in images)
        pixels = bytearray()
        for pr, pg, pb, pa in zip(r, g, b, a):
            level = min(255, max(0, int(pa * 255 + 0.5))) if pa > 0 else 0
            if level == 0:
                pixels += b"\0\0\0\0"
                continue
            pixels += bytes((to_srgb(pr / pa), to_srgb(pg / pa), to_srgb(pb / pa), level))
        out.write(f"OK {width} {height}\n".encode() + bytes(pixels))
    out.flush()


if __name__ == "__main__":
    main(sys.argv)
