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

    icoread.py --all READER FILE...

reads every image of each file instead of the one the reader picks.
READER is "pillow" (every size of ico.sizes(), each through
ico.getimage(size)), "icotool" (icotool -l lists the images, icotool -x
extracts them, each PNG read with Pillow), "magick" (identify lists the
frames, one convert run writes each as a PNG read with Pillow) or
"gdkpixbuf" (GdkPixbuf.Pixbuf.new_from_file, which yields the one image its
loader chooses). For each file the output is

    FILE <path>
    IMAGE <width> <height>
    <height lines of run-length pixels>
    IMAGE ...

in the reader's order, or FILE and REFUSED as above. A run-length line is a
space-separated list of RRGGBBAA, each followed by "*N" when it repeats N > 1
times.
"""

import glob
import os
import re
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


def run_length(image):
    """The RGBA rows of image as run-length lines."""
    rgba = image.convert("RGBA")
    width, height = rgba.size
    data = rgba.tobytes()
    stride = width * 4
    lines = []
    for y in range(height):
        row = data[y * stride:(y + 1) * stride]
        if width and row == row[:4] * width:  # the common case of a uniform row, without a loop
            runs = [(row[:4], width)]
        else:
            runs = []
            for x in range(0, stride, 4):
                pixel = row[x:x + 4]
                if runs and runs[-1][0] == pixel:
                    runs[-1] = (pixel, runs[-1][1] + 1)
                else:
                    runs.append((pixel, 1))
        lines.append(" ".join(p.hex().upper() + ("*%d" % n if n > 1 else "") for p, n in runs))
    return rgba.size, lines


def every_pillow(path, scratch):
    with Image.open(path) as image:
        if image.format != "ICO":
            raise ValueError("Pillow reads it as %s" % image.format)
        for size in sorted(image.ico.sizes()):
            picture = image.ico.getimage(size)
            picture.load()
            yield picture


def every_icotool(path, scratch):
    listing = subprocess.run(["icotool", "-l", path], capture_output=True, text=True)
    if listing.returncode != 0:
        raise ValueError("icotool -l: exit %d, %s" % (listing.returncode, listing.stderr.strip()))
    indexes = [int(m.group(1)) for m in re.finditer(r"--index=(\d+)", listing.stdout)]
    out = os.path.join(scratch, "icotool")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    result = subprocess.run(["icotool", "-x", "-o", out, path], capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError("icotool -x: exit %d, %s" % (result.returncode, result.stderr.strip()))
    # The extracted names end in _<index>_<width>x<height>x<bits>.png.
    extracted = {}
    for name in os.listdir(out):
        match = re.search(r"_(\d+)_\d+x\d+x\d+\.png$", name)
        if match:
            extracted[int(match.group(1))] = os.path.join(out, name)
    if sorted(extracted) != indexes:
        raise ValueError("icotool lists images %s but extracts %s" % (indexes, sorted(extracted)))
    for index in indexes:
        with Image.open(extracted[index]) as picture:
            picture.load()
            yield picture


def every_magick(path, scratch):
    identify = subprocess.run(["/usr/bin/identify", "-format", "%w %h\n", "ico:" + path],
                              capture_output=True, text=True)
    if identify.returncode != 0:
        raise ValueError("identify: exit %d, %s" % (identify.returncode, identify.stderr.strip()))
    sizes = [tuple(int(v) for v in line.split()) for line in identify.stdout.splitlines() if line.strip()]
    out = os.path.join(scratch, "magick")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    result = subprocess.run(["/usr/bin/convert", "ico:" + path, "png32:" + os.path.join(out, "frame-%d.png")],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError("convert: exit %d, %s" % (result.returncode, result.stderr.strip()))
    frames = [os.path.join(out, "frame-%d.png" % i) for i in range(len(sizes))]
    if len(os.listdir(out)) != len(sizes) or not all(os.path.exists(f) for f in frames):
        raise ValueError("identify lists %d frames, convert wrote %d" % (len(sizes), len(os.listdir(out))))
    for frame, size in zip(frames, sizes):
        with Image.open(frame) as picture:
            picture.load()
            if picture.size != size:
                raise ValueError("identify gives %dx%d, convert %dx%d" % (size + picture.size))
            yield picture


def every_gdkpixbuf(path, scratch):
    pixbuf = GdkPixbuf.Pixbuf.new_from_file(path)
    if pixbuf.get_bits_per_sample() != 8 or pixbuf.get_colorspace() != GdkPixbuf.Colorspace.RGB:
        raise ValueError("GdkPixbuf gives %d bits per sample" % pixbuf.get_bits_per_sample())
    width, height = pixbuf.get_width(), pixbuf.get_height()
    channels, stride = pixbuf.get_n_channels(), pixbuf.get_rowstride()
    data = pixbuf.get_pixels()
    mode = "RGBA" if pixbuf.get_has_alpha() else "RGB"
    if channels != len(mode):
        raise ValueError("GdkPixbuf gives %d channels for %s" % (channels, mode))
    rows = b"".join(data[y * stride:y * stride + width * channels] for y in range(height))
    yield Image.frombytes(mode, (width, height), rows)


EVERY = {"pillow": every_pillow, "icotool": every_icotool, "magick": every_magick, "gdkpixbuf": every_gdkpixbuf}
EVERY_TOOLS = {"icotool": "icotool", "magick": "/usr/bin/identify"}


def main_every(argv):
    if len(argv) < 2 or argv[0] not in EVERY:
        sys.stderr.write(__doc__)
        return 2
    reader = argv[0]
    for tool in [EVERY_TOOLS.get(reader)] + (["/usr/bin/convert"] if reader == "magick" else []):
        if tool and shutil.which(tool) is None:
            sys.stderr.write("%s is not installed\n" % tool)
            return 77
    if reader == "gdkpixbuf":
        global GdkPixbuf
        try:
            import gi
            gi.require_version("GdkPixbuf", "2.0")
            from gi.repository import GdkPixbuf
        except (ImportError, ValueError) as error:
            sys.stderr.write("GdkPixbuf is not available: %s\n" % error)
            return 77
    out = sys.stdout
    with tempfile.TemporaryDirectory() as scratch:
        for path in argv[1:]:
            out.write("FILE %s\n" % path)
            try:
                # Everything is decoded before anything is printed, so that a
                # refusal never follows half a file's images.
                images = [run_length(picture) for picture in EVERY[reader](path, scratch)]
            except Exception as error:  # the reader's refusal is reported, not hidden
                out.write("REFUSED %s\n" % " ".join(str(error).split()))
                continue
            for (width, height), lines in images:
                out.write("IMAGE %d %d\n" % (width, height))
                for line in lines:
                    out.write(line + "\n")
    return 0


def main(argv):
    if argv[:1] == ["--all"]:
        return main_every(argv[1:])
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
