#!/usr/bin/python3
"""Figures for gloxen-convert beside ImageMagick and Pillow doing the same job,
and a table of how closely our smooth scaling matches Pillow's.

In most jobs each contender turns a picture into a single 256 x 256 icon,
sampling nearest-neighbour:

    ours         gloxen-convert --size 256 -o OUT.ico PICTURE
    ImageMagick  convert PICTURE -sample 256x256! OUT.ico
    Pillow       open, resize((256, 256), Image.NEAREST), save as ICO with
                 that one size, in its own /usr/bin/python3 process

The jobs are a 6000 x 4000 JPEG (quality 90, 4:2:0), the same picture as an
RGB PNG (Pillow's default compression) and as a 24-bit BMP, and a batch of
pictures of mixed formats and sizes. The batch is one gloxen-convert call
with an output folder; ImageMagick runs it twice, as one convert per picture
in sequence and as one mogrify call, and the faster of the two is compared;
Pillow runs it as one Python process looping over the pictures. The PNG job
also runs gloxen_bench_plain_png, libpng alone decoding the file into one
full-size buffer, which is the yardstick for our PNG speed.

The job "multi-size Lanczos" turns the same 6000 x 4000 JPEG into a modern
icon of four images, 16, 32, 48 and 256 pixels, each scaled smoothly:

    ours         gloxen-convert --size 16,32,48,256 --filter lanczos --depth 32
                     --png 256 -o OUT.ico big.jpg
    ImageMagick  convert big.jpg -define icon:auto-resize=16,32,48,256 OUT.ico
    Pillow       open, save(OUT, format="ICO",
                     sizes=[(16, 16), (32, 32), (48, 48), (256, 256)]),
                 in its own /usr/bin/python3 process

Pillow's ICO writer shrinks with Lanczos but keeps the picture's aspect, so
its images are 16 x 11 up to 256 x 171; its output check therefore compares
the longer side only. Ours (stretched, the converter's default fit) and
ImageMagick's are square. The target here is to be faster than both with
less than half of either's peak memory.

Time is the wall time of the contender's process (or, for ImageMagick's
sequence, of all its processes one after another), from start to exit, as
seen by this script; it includes the start-up of GNU time, about a
millisecond, the same for every contender. Every contender runs once untimed first (the pictures
are then in the page cache, and a contender that fails is found and left
out), then each job runs --runs times with the contenders interleaved, the
order rotating from run to run; the table shows medians. Peak memory is the
largest resident size of the contender's process, as GNU time reports it
(ru_maxrss of its one child; see run_process for why not from this script),
again the median over the runs; for Pillow that includes the Python interpreter,
and for ImageMagick's sequence it is the largest of its processes. A
converter that works in threads has them all counted; worker processes would
each count on their own.

The machine this runs on may be shared and have few cores, so the figures
are printed and compared with the targets, never asserted: the exit status
is 0 whenever every contender ran, whatever the figures are.

After the timings the script always prints the quality table (--quality-only
prints it alone, without the timings). Photographs (every 8-bit JPEG in
../shared/corpora/jpeg; monkey12.jpg there is 12-bit, which neither our
decoder nor Pillow reads) and line art with opacity and sharp edges (two
256 x 256 pictures from png-testpngs, two 32 x 32 ones from pngsuite, and a
generated 256 x 256 logo of one-pixel lines over transparency, since the
corpora hold no such drawing) are shrunk to 16, 32 and 48 pixels (the
32-pixel pictures to 16 only) by

    gloxen-convert --depth 32 --alpha keep --transparent off --filter F
        --size N -o OUT.ico PICTURE

for F = box and lanczos; "--transparent off" keeps the converter's default
key colour (black, when the top-left pixel is black) out of the picture's
own opacity. Pillow reads the icon back. The reference is Pillow's BOX and
LANCZOS done in linear light with premultiplied opacity and float precision
between the passes, by tests/raster/pil_resample.py (imported, the same
reference as the resampler's tests); Pillow's plain resize of the RGBA
picture (premultiplied, but in sRGB values) is shown beside it for
information. Both are compared as PSNR over the premultiplied linear colour
channels and the opacity, each in 0..1 (infinite when every byte agrees).
The target is at least 40 dB against the linear-light reference for every
picture and size; like the timings it is printed as met / NOT met.

The pictures are generated once with Pillow into a cache folder
(/tmp/gloxen-bench by default) and reused by later runs.

    /usr/bin/python3 bench/convert_bench.py [--runs N] [--quick]
        [--quality-only] [--converter PATH] [--plain-png PATH] [--cache DIR]

--quick uses small pictures and a short batch and runs once; it is meant for
checking the harness itself, and its figures say little. It does not change
the quality table, which uses the same pictures either way.
"""

import argparse
import contextlib
import importlib
import io
import math
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageStat

ROOT = Path(__file__).resolve().parent.parent
ICON_SIZE = 256

# Raise this whenever the pictures' recipe changes, so cached sets are rebuilt.
PICTURE_RECIPE = 1

CORPORA = ROOT.parent / "shared" / "corpora"

# A corpus photo used as the base of the generated pictures (227 x 149); the
# generator adds grain and shapes, so the upscale still has fine detail.
BASE_PHOTO = CORPORA / "jpeg" / "testorig.jpg"

# The sizes of the multi-size job's icon, smallest first.
MULTI_SIZES = (16, 32, 48, 256)

# Pillow's side of the job: argv[1] is the output, a file for one picture or
# a folder (ending in "/") for several; the rest are the pictures.
PILLOW_PROGRAM = r"""
import os, sys
from PIL import Image
out, pictures = sys.argv[1], sys.argv[2:]
for picture in pictures:
    target = out
    if out.endswith("/"):
        target = os.path.join(out, os.path.splitext(os.path.basename(picture))[0] + ".ico")
    with Image.open(picture) as im:
        icon = im.resize((256, 256), Image.NEAREST)
    icon.save(target, format="ICO", sizes=[(256, 256)])
"""

# Pillow's side of the multi-size job: argv[1] is the output, argv[2] the
# picture. Pillow's ICO writer does the scaling itself (Lanczos).
PILLOW_MULTI_PROGRAM = r"""
import sys
from PIL import Image
with Image.open(sys.argv[2]) as im:
    im.save(sys.argv[1], format="ICO", sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])
"""


# ---------------------------------------------------------------------------
# The pictures


class PictureSet:
    """Where the pictures of one set (full or quick) live, and their sizes."""

    def __init__(self, cache: Path, quick: bool):
        self.quick = quick
        self.folder = cache / ("quick" if quick else "full")
        self.big_size = (1500, 1000) if quick else (6000, 4000)
        # Each batch kind: extension, size; the batch repeats the kinds in turn.
        scale = 4 if quick else 1
        self.batch_kinds = [
            ("jpg", (3000 // scale, 2000 // scale)),
            ("png", (1920 // scale, 1080 // scale)),
            ("bmp", (2000 // scale, 1500 // scale)),
            ("gif", (800 // scale, 600 // scale)),
            ("ico", (256, 256)),
        ]
        self.batch_count = 10 if quick else 40
        self.stamp = self.folder / f"complete-{PICTURE_RECIPE}"

    def big(self, extension: str) -> Path:
        return self.folder / f"big.{extension}"

    def batch(self) -> list:
        pictures = []
        for i in range(self.batch_count):
            extension, _ = self.batch_kinds[i % len(self.batch_kinds)]
            pictures.append(self.folder / "batch" / f"b{i:02d}.{extension}")
        return pictures

    def ensure(self) -> None:
        if self.stamp.exists():
            return
        print(f"Writing the test pictures in {self.folder} (once; later runs reuse them) ...", flush=True)
        if self.folder.exists():
            shutil.rmtree(self.folder)
        (self.folder / "batch").mkdir(parents=True)
        source = photo_like(*self.big_size)
        source.save(self.big("jpg"), quality=90, subsampling="4:2:0")
        source.save(self.big("png"))
        source.save(self.big("bmp"))
        for i, path in enumerate(self.batch()):
            extension, size = self.batch_kinds[i % len(self.batch_kinds)]
            picture = batch_picture(source, i, size)
            if extension == "jpg":
                picture.save(path, quality=90, subsampling="4:2:0")
            elif extension == "gif":
                picture.quantize(256).save(path)
            elif extension == "ico":
                # An icon with one 32-bit bitmap entry, the classic layout.
                picture.convert("RGBA").save(path, sizes=[size], bitmap_format="bmp")
            else:
                picture.save(path)
        self.stamp.write_text("The pictures in this folder are complete.\n")


def photo_like(width: int, height: int) -> Image.Image:
    """A picture with a photo's statistics: smooth areas from an upscaled
    photo, shapes with hard edges, fine textures, and colour grain, so that
    the JPEG and PNG compressors and decoders have real work."""
    if BASE_PHOTO.exists():
        with Image.open(BASE_PHOTO) as base:
            picture = base.convert("RGB").resize((width, height), Image.BICUBIC)
    else:
        picture = Image.linear_gradient("L").resize((width, height)).convert("RGB")
    draw = ImageDraw.Draw(picture)
    # A fixed sequence of shapes (a small linear congruential generator, so
    # every machine draws the same ones).
    state = 12345

    def next_value(limit: int) -> int:
        nonlocal state
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        return state % limit

    unit = max(1, width // 600)
    for _ in range(300):
        x, y = next_value(width), next_value(height)
        w, h = next_value(width // 8) + unit, next_value(height // 8) + unit
        colour = (next_value(256), next_value(256), next_value(256))
        kind = next_value(3)
        if kind == 0:
            draw.ellipse((x, y, x + w, y + h), fill=colour)
        elif kind == 1:
            draw.rectangle((x, y, x + w, y + h), outline=colour, width=unit)
        else:
            draw.line((x, y, x + w, y + h), fill=colour, width=unit)
    # Fine stripes in a few places: detail at the pixel scale.
    for i in range(6):
        x0, y0 = next_value(width - width // 10), next_value(height - height // 10)
        for x in range(x0, x0 + width // 10, 3):
            draw.line((x, y0, x, y0 + height // 10), fill=(240, 240, 240))
    picture = picture.filter(ImageFilter.GaussianBlur(0.6))
    grain = Image.merge("RGB", [Image.effect_noise((width, height), 6) for _ in range(3)])
    return ImageChops.add(picture, grain, scale=1.0, offset=-128)


def batch_picture(source: Image.Image, index: int, size: tuple) -> Image.Image:
    """A different part of the source for each batch picture, at the given
    size, so no two batch pictures are alike."""
    width, height = source.size
    crop_w, crop_h = width * 2 // 3, height * 2 // 3
    x = (index * 211) % (width - crop_w)
    y = (index * 137) % (height - crop_h)
    return source.crop((x, y, x + crop_w, y + crop_h)).resize(size, Image.BILINEAR)


# ---------------------------------------------------------------------------
# Running one contender


class Failure(Exception):
    """A contender's process did not succeed."""


def run_process(argv: list, gnu_time: str) -> tuple:
    """Runs one process to its end; returns (wall seconds, peak RSS in bytes).

    The process is started by GNU time, which reports the peak of its child
    alone. Taking ru_maxrss from os.wait4 here instead would be wrong: Linux
    carries a process's peak across exec, and the child forked from this
    script starts with this script's own resident pages (Pillow and all, tens
    of MiB), which would become every contender's floor. GNU time's own
    footprint is about 1 MiB."""
    with tempfile.NamedTemporaryFile() as peak_file, tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        finished = subprocess.run(
            [gnu_time, "-f", "%M", "-o", peak_file.name, *argv],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=errors,
        )
        wall = time.perf_counter() - start
        if finished.returncode != 0:
            errors.seek(0)
            message = errors.read().decode(errors="replace").strip().splitlines()
            detail = message[-1] if message else "no message"
            raise Failure(f"{Path(argv[0]).name} exited with {finished.returncode}: {detail}")
        # GNU time writes its figure (KiB) as the last line of the file.
        lines = Path(peak_file.name).read_text().split()
        if not lines or not lines[-1].isdigit():
            raise Failure(f"GNU time gave no peak memory for {Path(argv[0]).name}")
    return wall, int(lines[-1]) * 1024


class Contender:
    """One way of doing one job: a list of commands run one after another,
    and the place its output goes (cleared before every run)."""

    gnu_time = "/usr/bin/time"

    def __init__(self, name: str, commands: list, output: Path, output_is_folder: bool):
        self.name = name
        self.commands = commands
        self.output = output
        self.output_is_folder = output_is_folder
        self.times = []
        self.peaks = []
        self.failure = None
        # True for a contender whose icons keep the picture's aspect (Pillow's
        # ICO writer): its output check then compares the longer side only.
        self.keeps_aspect = False

    def clear_output(self) -> None:
        if self.output_is_folder:
            shutil.rmtree(self.output, ignore_errors=True)
            self.output.mkdir(parents=True)
        else:
            self.output.unlink(missing_ok=True)

    def run(self, keep: bool) -> None:
        if self.failure:
            return
        self.clear_output()
        wall, peak = 0.0, 0
        try:
            for argv in self.commands:
                seconds, rss = run_process(argv, Contender.gnu_time)
                wall += seconds
                peak = max(peak, rss)
        except Failure as failure:
            self.failure = str(failure)
            return
        if keep:
            self.times.append(wall)
            self.peaks.append(peak)

    def time(self):
        return statistics.median(self.times) if self.times else None

    def peak_mib(self):
        return statistics.median(self.peaks) / 2**20 if self.peaks else None


# ---------------------------------------------------------------------------
# Checking the outputs (once, after the untimed run)


def icon_entries(path: Path) -> list:
    """(width, height) of each entry in an .ico file's directory; 0 means 256."""
    data = path.read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    return [(data[6 + 16 * i] or 256, data[7 + 16 * i] or 256) for i in range(count)]


def check_icon(path: Path, sides: list, keeps_aspect: bool) -> str:
    """'' for an icon with one square entry for each of the sides (in any
    order), otherwise what is wrong with it. With keeps_aspect an entry
    only needs its longer side to match."""
    try:
        entries = icon_entries(path)
    except (OSError, ValueError, struct.error) as error:
        return f"{path.name}: unreadable ({error})"
    found = sorted(max(w, h) if keeps_aspect else (w, h) for w, h in entries)
    wanted = sorted(side if keeps_aspect else (side, side) for side in sides)
    if found != wanted:
        what = "longest sides" if keeps_aspect else "square sides"
        return f"{path.name}: entries {entries}, expected {what} {', '.join(map(str, sides))}"
    return ""


def check_output(contender: Contender, expected_count: int, sides: list) -> str:
    if contender.output_is_folder:
        icons = sorted(contender.output.glob("*.ico"))
        if len(icons) != expected_count:
            return f"{len(icons)} icons written, expected {expected_count}"
        problems = [p for p in (check_icon(icon, sides, contender.keeps_aspect) for icon in icons) if p]
        return f"{len(problems)} bad icons, e.g. {problems[0]}" if problems else ""
    if not contender.output.exists():
        return "no icon written"
    return check_icon(contender.output, sides, contender.keeps_aspect)


def mean_colour(path: Path) -> list:
    with Image.open(path) as icon:
        return ImageStat.Stat(icon.convert("RGB")).mean


# ---------------------------------------------------------------------------
# The jobs


class Job:
    def __init__(self, name: str, pictures: list, contenders: dict, kind: str, sides=(ICON_SIZE,)):
        self.name = name
        self.pictures = pictures
        self.contenders = contenders  # role -> Contender
        self.kind = kind  # "jpg", "png", "bmp", "multi" or "batch"
        self.sides = list(sides)  # the icon's images, each side x side


def make_jobs(pictures: PictureSet, tools: dict, work: Path) -> list:
    python = sys.executable
    jobs = []
    width, height = pictures.big_size
    for extension, label in (("jpg", "JPEG"), ("png", "PNG"), ("bmp", "BMP")):
        picture = str(pictures.big(extension))
        out = work / extension
        out.mkdir(parents=True)
        contenders = {}
        if tools["ours"]:
            contenders["ours"] = Contender(
                "gloxen-convert",
                [[tools["ours"], "--size", str(ICON_SIZE), "-o", str(out / "ours.ico"), picture]],
                out / "ours.ico",
                False,
            )
        contenders["im"] = Contender(
            "ImageMagick convert",
            [[tools["convert"], picture, "-sample", f"{ICON_SIZE}x{ICON_SIZE}!", str(out / "im.ico")]],
            out / "im.ico",
            False,
        )
        contenders["pillow"] = Contender(
            "Pillow", [[python, "-c", PILLOW_PROGRAM, str(out / "pillow.ico"), picture]], out / "pillow.ico", False
        )
        if extension == "png" and tools["plain_png"]:
            contenders["plain"] = Contender("plain libpng", [[tools["plain_png"], picture]], out / "none", False)
        jobs.append(Job(f"{label} {width}x{height}", [picture], contenders, extension))

    # The modern icon: four sizes from the big JPEG, each scaled smoothly.
    picture = str(pictures.big("jpg"))
    out = work / "multi"
    out.mkdir(parents=True)
    sizes = ",".join(map(str, MULTI_SIZES))
    contenders = {}
    if tools["ours"]:
        contenders["ours"] = Contender(
            "gloxen-convert",
            [[tools["ours"], "--size", sizes, "--filter", "lanczos", "--depth", "32", "--png", "256",
              "-o", str(out / "ours.ico"), picture]],
            out / "ours.ico",
            False,
        )
    contenders["im"] = Contender(
        "ImageMagick convert",
        [[tools["convert"], picture, "-define", f"icon:auto-resize={sizes}", str(out / "im.ico")]],
        out / "im.ico",
        False,
    )
    contenders["pillow"] = Contender(
        "Pillow", [[python, "-c", PILLOW_MULTI_PROGRAM, str(out / "pillow.ico"), picture]], out / "pillow.ico", False
    )
    contenders["pillow"].keeps_aspect = True
    jobs.append(Job("multi-size Lanczos", [picture], contenders, "multi", MULTI_SIZES))

    batch = [str(p) for p in pictures.batch()]
    out = work / "batch"
    contenders = {}
    if tools["ours"]:
        contenders["ours"] = Contender(
            "gloxen-convert",
            [[tools["ours"], "--size", str(ICON_SIZE), "-o", str(out / "ours") + "/", *batch]],
            out / "ours",
            True,
        )
    contenders["im"] = Contender(
        "ImageMagick convert per picture",
        [
            [tools["convert"], p, "-sample", f"{ICON_SIZE}x{ICON_SIZE}!", str(out / "im" / (Path(p).stem + ".ico"))]
            for p in batch
        ],
        out / "im",
        True,
    )
    contenders["mogrify"] = Contender(
        "ImageMagick mogrify",
        [[tools["mogrify"], "-path", str(out / "mogrify"), "-format", "ico", "-sample",
          f"{ICON_SIZE}x{ICON_SIZE}!", *batch]],
        out / "mogrify",
        True,
    )
    contenders["pillow"] = Contender(
        "Pillow", [[python, "-c", PILLOW_PROGRAM, str(out / "pillow") + "/", *batch]], out / "pillow", True
    )
    jobs.append(Job(f"batch of {len(batch)} mixed", batch, contenders, "batch"))
    return jobs


# ---------------------------------------------------------------------------
# The report


def ratio(theirs, ours):
    return theirs / ours if theirs is not None and ours else None


def cell(value, form: str, width: int) -> str:
    return f"{'-':>{width}}" if value is None else f"{value:{width}{form}}"


def verdict(met) -> str:
    return "-" if met is None else ("met" if met else "NOT met")


def at_least(values: list, limit: float):
    """True when every figure reaches the limit, None when one is missing."""
    if any(v is None for v in values):
        return None
    return all(v >= limit for v in values)


def above(values: list, limit: float):
    """True when every figure is beyond the limit, None when one is missing."""
    if any(v is None for v in values):
        return None
    return all(v > limit for v in values)


def report(jobs: list, runs: int) -> None:
    print()
    print(f"Medians of {runs} interleaved run(s); time in seconds, peak = largest resident size in MiB.")
    print("Ratios are theirs / ours: above 1 means ours is faster or smaller. For the batch the")
    print("ImageMagick columns show the faster of one convert per picture and mogrify.")
    print()
    header = (
        f"{'job':<22} {'ours s':>7} {'IM s':>7} {'Pil s':>7} {'IM/ours':>8} {'Pil/ours':>8}   "
        f"{'ours MiB':>8} {'IM MiB':>7} {'Pil MiB':>7} {'IM/ours':>8} {'Pil/ours':>8}   target"
    )
    print(header)
    print("-" * len(header))
    notes = []
    for job in jobs:
        c = job.contenders
        ours = c.get("ours")
        im = c["im"]
        if job.kind == "batch":
            mogrify = c["mogrify"]
            timed = [x for x in (im, mogrify) if x.time() is not None]
            im = min(timed, key=Contender.time) if timed else im
            notes.append(
                f"batch, ImageMagick: one convert per picture {cell(c['im'].time(), '.2f', 0)} s "
                f"(peak {cell(c['im'].peak_mib(), '.0f', 0)} MiB); mogrify {cell(mogrify.time(), '.2f', 0)} s "
                f"(peak {cell(mogrify.peak_mib(), '.0f', 0)} MiB); compared: {im.name}"
            )
        pillow = c["pillow"]
        our_time = ours.time() if ours else None
        our_peak = ours.peak_mib() if ours else None
        t_im, t_pil = ratio(im.time(), our_time), ratio(pillow.time(), our_time)
        m_im, m_pil = ratio(im.peak_mib(), our_peak), ratio(pillow.peak_mib(), our_peak)
        if job.kind in ("jpg", "bmp"):
            target = "3x faster, 1/4 memory: " + verdict(
                None if None in (t_im, t_pil, m_im, m_pil) else at_least([t_im, t_pil], 3) and at_least([m_im, m_pil], 4)
            )
        elif job.kind == "batch":
            target = "3x faster: " + verdict(at_least([t_im, t_pil], 3))
        elif job.kind == "multi":
            target = "faster, < 1/2 memory: " + verdict(
                None if None in (t_im, t_pil, m_im, m_pil) else above([t_im, t_pil], 1) and above([m_im, m_pil], 2)
            )
        else:
            target = "see plain libpng below"
        print(
            f"{job.name:<22} {cell(our_time, '.3f', 7)} {cell(im.time(), '.3f', 7)} {cell(pillow.time(), '.3f', 7)} "
            f"{cell(t_im, '.2f', 8)} {cell(t_pil, '.2f', 8)}   "
            f"{cell(our_peak, '.0f', 8)} {cell(im.peak_mib(), '.0f', 7)} {cell(pillow.peak_mib(), '.0f', 7)} "
            f"{cell(m_im, '.2f', 8)} {cell(m_pil, '.2f', 8)}   {target}"
        )
        if job.kind == "png":
            plain = c.get("plain")
            if plain is None:
                notes.append("PNG vs plain libpng: gloxen_bench_plain_png not found, not measured")
            else:
                share = ratio(our_time, plain.time())
                notes.append(
                    f"PNG vs plain libpng: ours {cell(our_time, '.3f', 0)} s, plain {cell(plain.time(), '.3f', 0)} s, "
                    f"ours / plain {cell(share, '.2f', 0)} (target <= 1.10: "
                    f"{verdict(None if share is None else share <= 1.1)}); peak ours {cell(our_peak, '.0f', 0)} MiB, "
                    f"plain {cell(plain.peak_mib(), '.0f', 0)} MiB"
                )
    print()
    for note in notes:
        print(note)


# ---------------------------------------------------------------------------
# Scaling quality


QUALITY_SIZES = (16, 32, 48)
QUALITY_FILTERS = ("box", "lanczos")
QUALITY_TARGET_DB = 40.0

# Raise this whenever the generated logo's recipe changes, so the cached
# file is redrawn.
LOGO_RECIPE = 1

# The resampler tests' reference: Pillow in linear light, premultiplied.
PIL_RESAMPLE = ROOT / "tests" / "raster" / "pil_resample.py"

# Pillow's plain filters, for the sRGB column.
PLAIN_FILTERS = {"box": Image.BOX, "lanczos": Image.LANCZOS}


def one_pixel_logo(path: Path) -> None:
    """Draws a 256 x 256 logo of one-pixel lines over transparency, the case
    where scaling in sRGB values and scaling in linear light differ most:
    thin light and dark lines, a half-opaque fill, a frame on the picture's
    edge, and a patch of single-pixel checks. Lines are drawn without
    anti-aliasing, so every edge is sharp."""
    side = 256
    logo = Image.new("RGBA", (side, side), (0, 0, 0, 0))
    draw = ImageDraw.Draw(logo)
    # A half-opaque disc outlined by a one-pixel white ring.
    draw.ellipse((24, 24, 231, 231), fill=(30, 90, 200, 128), outline=(255, 255, 255, 255), width=1)
    # Vertical lines every 7 pixels, black and white in turn, and red
    # horizontal ones every 9: spacings no target size divides evenly.
    for i, x in enumerate(range(48, 209, 7)):
        draw.line((x, 64, x, 192), fill=(0, 0, 0, 255) if i % 2 else (255, 255, 255, 255))
    for y in range(70, 190, 9):
        draw.line((60, y, 196, y), fill=(230, 20, 20, 255))
    # The two diagonals, one pixel wide.
    draw.line((0, 0, side - 1, side - 1), fill=(255, 200, 0, 255))
    draw.line((0, side - 1, side - 1, 0), fill=(0, 200, 80, 255))
    # A frame on the outermost pixels: the scaler's edge handling shows here.
    draw.rectangle((0, 0, side - 1, side - 1), outline=(200, 0, 200, 255))
    # Single-pixel checks, opaque black on transparency, in one corner.
    for y in range(204, 244):
        for x in range(12, 52):
            if (x + y) % 2:
                logo.putpixel((x, y), (0, 0, 0, 255))
    partial = path.with_suffix(".partial")
    logo.save(partial, format="PNG")
    partial.replace(path)


def quality_pictures(cache: Path) -> list:
    """(name, path, kind) of the pictures the quality table shrinks."""
    chosen = [
        # Every 8-bit JPEG in the corpus: baseline, integer DCT, arithmetic
        # coding (all 227 x 149). monkey12.jpg is 12-bit and read by neither side.
        ("jpeg/testorig.jpg", "photo"),
        ("jpeg/testimgint.jpg", "photo"),
        ("jpeg/testimgari.jpg", "photo"),
        # Sharp colour edges and opacity ramps, 256 x 256.
        ("png-testpngs/rgb-alpha-8.png", "line art"),
        # A grey and opacity ramp cut by a hard diagonal, 256 x 256.
        ("png-testpngs/gray-alpha-8.png", "line art"),
        # A small logo on a transparent palette entry, 32 x 32.
        ("pngsuite/ftbbn3p08.png", "logo"),
        # Colour and opacity ramps, 32 x 32.
        ("pngsuite/basn6a08.png", "line art"),
    ]
    pictures = [(name, CORPORA / name, kind) for name, kind in chosen]
    logo = cache / "quality" / f"logo-1px-{LOGO_RECIPE}.png"
    if not logo.exists():
        logo.parent.mkdir(parents=True, exist_ok=True)
        one_pixel_logo(logo)
    pictures.append(("generated logo, 1 px lines", logo, "logo"))
    return pictures


def load_linear_reference():
    """tests/raster/pil_resample.py as a module."""
    sys.path.insert(0, str(PIL_RESAMPLE.parent))
    try:
        return importlib.import_module("pil_resample")
    finally:
        sys.path.pop(0)


def linear_shrinks(reference, picture: Path, sizes: list, filter_name: str) -> dict:
    """side -> R, G, B, A bytes of Pillow's linear-light shrink: the answer of
    pil_resample.py's main(), which writes to standard output, caught here."""
    argv = [str(PIL_RESAMPLE), str(picture)]
    for side in sizes:
        argv += [str(side), str(side), filter_name]
    caught = io.BytesIO()
    wrapper = io.TextIOWrapper(caught)
    with contextlib.redirect_stdout(wrapper):
        reference.main(argv)
    wrapper.detach()  # Leave the bytes open after the wrapper is gone.
    data, at, answers = caught.getvalue(), 0, {}
    for side in sizes:
        end = data.index(b"\n", at)
        if data[at:end].decode() != f"OK {side} {side}":
            raise Failure(f"pil_resample.py gave no {side} x {side} answer for {picture.name}")
        answers[side] = data[end + 1 : end + 1 + side * side * 4]
        at = end + 1 + side * side * 4
    return answers


def plain_shrink(picture: Path, side: int, filter_name: str) -> bytes:
    """R, G, B, A bytes of Pillow's own resize of the RGBA picture."""
    with Image.open(picture) as image:
        image.seek(0)
        rgba = image.convert("RGBA")
    return rgba.resize((side, side), PLAIN_FILTERS[filter_name]).tobytes()


def our_shrink(converter: str, picture: Path, side: int, filter_name: str, out: Path) -> bytes:
    """R, G, B, A bytes of our 32-bit icon of the picture, read by Pillow."""
    out.unlink(missing_ok=True)
    finished = subprocess.run(
        [converter, "--depth", "32", "--alpha", "keep", "--transparent", "off", "--filter", filter_name,
         "--size", str(side), "-o", str(out), str(picture)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True,
    )
    if finished.returncode != 0:
        lines = finished.stderr.strip().splitlines()
        raise Failure(f"gloxen-convert exited with {finished.returncode}: {lines[-1] if lines else 'no message'}")
    with Image.open(out) as icon:
        if icon.size != (side, side):
            raise Failure(f"our icon of {picture.name} is {icon.size}, expected {side} x {side}")
        return icon.convert("RGBA").tobytes()


def psnr(ours: bytes, theirs: bytes, linear: list) -> float:
    """PSNR in dB over premultiplied linear light and opacity, all in 0..1,
    as the resampler's tests compute it; infinite when every byte agrees."""
    squares = 0.0
    for i in range(0, len(ours), 4):
        oa, ta = ours[i + 3] / 255.0, theirs[i + 3] / 255.0
        for c in range(3):
            d = linear[ours[i + c]] * oa - linear[theirs[i + c]] * ta
            squares += d * d
        squares += (oa - ta) * (oa - ta)
    mse = squares / len(ours)
    return math.inf if mse == 0 else 10 * math.log10(1 / mse)


def quality_table(converter, cache: Path, work: Path) -> bool:
    """Prints the quality table; False when a picture could not be measured."""
    print()
    if not converter:
        print("Scaling quality: gloxen-convert not found, not measured.")
        return True
    work.mkdir(parents=True, exist_ok=True)
    reference = load_linear_reference()
    linear = [reference.to_linear(v) for v in range(256)]
    print("Scaling quality: PSNR in dB over premultiplied linear light and opacity (inf: identical).")
    print('"linear" is Pillow in linear light with premultiplied opacity, the reference (target at least')
    print(f'{QUALITY_TARGET_DB:.0f} dB); "sRGB" is Pillow\'s plain resize of the RGBA picture, for information.')
    print()
    header = f"{'picture':<30} {'kind':<9} {'size':>4}"
    for name in QUALITY_FILTERS:
        header += f"   {name + ' linear':>14} {name + ' sRGB':>13}"
    print(header)
    print("-" * len(header))
    lowest = {(name, against): math.inf for name in QUALITY_FILTERS for against in ("linear", "sRGB")}
    measured_all = True
    for label, path, kind in quality_pictures(cache):
        try:
            with Image.open(path) as image:
                sides = [n for n in QUALITY_SIZES if n < min(image.size)]
            references = {name: linear_shrinks(reference, path, sides, name) for name in QUALITY_FILTERS}
            for side in sides:
                row = f"{label:<30} {kind:<9} {side:>4}"
                for name in QUALITY_FILTERS:
                    ours = our_shrink(converter, path, side, name, work / "icon.ico")
                    vs_linear = psnr(ours, references[name][side], linear)
                    vs_plain = psnr(ours, plain_shrink(path, side, name), linear)
                    lowest[name, "linear"] = min(lowest[name, "linear"], vs_linear)
                    lowest[name, "sRGB"] = min(lowest[name, "sRGB"], vs_plain)
                    row += f"   {vs_linear:14.2f} {vs_plain:13.2f}"
                print(row, flush=True)
        except (Failure, OSError, ValueError) as error:
            print(f"{label:<30} FAILED, left out: {error}")
            measured_all = False
    print()
    for name in QUALITY_FILTERS:
        met = lowest[name, "linear"] >= QUALITY_TARGET_DB
        print(
            f"{name}: minimum {lowest[name, 'linear']:.2f} dB against linear light (target at least "
            f"{QUALITY_TARGET_DB:.0f} dB: {verdict(met if measured_all else None)}); "
            f"minimum {lowest[name, 'sRGB']:.2f} dB against plain sRGB"
        )
    return measured_all


# ---------------------------------------------------------------------------


def find_tools(args) -> dict:
    tools = {}
    converter = Path(args.converter) if args.converter else ROOT / "build" / "cli" / "gloxen-convert"
    if converter.is_file() and os.access(converter, os.X_OK):
        tools["ours"] = str(converter)
    else:
        print(f"gloxen-convert not found at {converter}: measuring the other contenders only.")
        tools["ours"] = None
    if args.plain_png:
        plain = Path(args.plain_png)
    else:
        # Beside the converter's build first, then in the default build.
        candidates = [folder / "bench" / "gloxen_bench_plain_png" for folder in (converter.parent.parent, ROOT / "build")]
        plain = next((c for c in candidates if c.is_file()), candidates[0])
    if plain.is_file() and os.access(plain, os.X_OK):
        tools["plain_png"] = str(plain)
    else:
        print(f"gloxen_bench_plain_png not found at {plain}: the PNG yardstick is left out.")
        tools["plain_png"] = None
    gnu_time = shutil.which("time", path="/usr/bin:/bin")
    if not gnu_time:
        sys.exit("convert_bench.py: GNU time (/usr/bin/time, Debian package time) is missing; it measures peak memory")
    Contender.gnu_time = gnu_time
    for name in ("convert", "mogrify"):
        # ImageMagick's own program rather than whatever comes first on PATH,
        # so that a wrapper script in front of it does not add its start-up.
        found = f"/usr/bin/{name}" if os.access(f"/usr/bin/{name}", os.X_OK) else shutil.which(name)
        if not found:
            sys.exit(f"convert_bench.py: ImageMagick's {name} is missing; the comparison needs it")
        tools[name] = found
    return tools


def describe_machine(tools: dict) -> None:
    magick = subprocess.run([tools["convert"], "-version"], capture_output=True, text=True).stdout.splitlines()
    print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f}; "
          f"{magick[0] if magick else 'ImageMagick'}; Pillow {Image.__version__}")
    if tools["ours"]:
        print(f"ours: {tools['ours']}")


def run_timings(pictures: PictureSet, tools: dict, work: Path, runs: int) -> bool:
    """The timed jobs and their table; False when a contender failed."""
    for extension in ("jpg", "png", "bmp"):
        print(f"  {pictures.big(extension).name}: {pictures.big(extension).stat().st_size / 1e6:.1f} MB")
    batch_bytes = sum(p.stat().st_size for p in pictures.batch())
    print(f"  batch: {pictures.batch_count} pictures, {batch_bytes / 1e6:.1f} MB")
    jobs = make_jobs(pictures, tools, work)
    print("Untimed run of every contender, checking its output ...", flush=True)
    everything_ran = True
    failed_untimed = []
    for job in jobs:
        for role, contender in job.contenders.items():
            contender.run(keep=False)
            if contender.failure:
                print(f"  {job.name}, {contender.name}: FAILED, left out: {contender.failure}")
                failed_untimed.append(contender)
                everything_ran = False
            elif role != "plain":
                problem = check_output(contender, len(job.pictures), job.sides)
                if problem:
                    print(f"  {job.name}, {contender.name}: output {problem}")
        # Our icon should show the same picture as Pillow's: same sampling
        # kind, so the mean colours differ only by where the samples fall.
        # Pillow opens the largest image of an icon.
        ours, pillow = job.contenders.get("ours"), job.contenders["pillow"]
        if job.kind != "batch" and ours and not ours.failure and not pillow.failure and ours.output.exists():
            try:
                gap = max(abs(a - b) for a, b in zip(mean_colour(ours.output), mean_colour(pillow.output)))
                print(f"  {job.name}: mean colour of our icon is within {gap:.1f} levels of Pillow's")
            except OSError as error:
                print(f"  {job.name}: Pillow cannot read our icon: {error}")

    for run in range(runs):
        print(f"Run {run + 1} of {runs} ...", flush=True)
        for job in jobs:
            order = list(job.contenders.values())
            shift = run % len(order)
            for contender in order[shift:] + order[:shift]:
                contender.run(keep=True)
    for job in jobs:
        for contender in job.contenders.values():
            if contender.failure and contender not in failed_untimed:
                print(f"{job.name}, {contender.name}: failed in a later run: {contender.failure}")
                everything_ran = False
    report(jobs, runs)
    print(f"\nLoad average at the end: {os.getloadavg()[0]:.2f}")
    return everything_ran


def main() -> int:
    parser = argparse.ArgumentParser(description="gloxen-convert beside ImageMagick and Pillow.")
    parser.add_argument("--converter", help="gloxen-convert to measure (default: build/cli/gloxen-convert)")
    parser.add_argument("--plain-png", help="gloxen_bench_plain_png (default: bench/ beside the converter's build)")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per job and contender (default 5)")
    parser.add_argument("--quick", action="store_true", help="small pictures, one run: for checking the harness")
    parser.add_argument("--quality-only", action="store_true", help="only the scaling quality table, no timings")
    parser.add_argument("--cache", default="/tmp/gloxen-bench", help="folder of the generated pictures")
    args = parser.parse_args()
    runs = 1 if args.quick else args.runs
    if runs < 1:
        parser.error("--runs must be at least 1")

    tools = find_tools(args)
    describe_machine(tools)
    cache = Path(args.cache)
    pictures = PictureSet(cache, args.quick)
    if not args.quality_only:
        pictures.ensure()
    cache.mkdir(parents=True, exist_ok=True)

    work = Path(tempfile.mkdtemp(prefix="out-", dir=cache))
    try:
        everything_ran = True
        if not args.quality_only:
            everything_ran = run_timings(pictures, tools, work, runs)
        if not quality_table(tools["ours"], cache, work / "quality"):
            everything_ran = False
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if everything_ran else 1


if __name__ == "__main__":
    sys.exit(main())
