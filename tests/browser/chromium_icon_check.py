#!/usr/bin/python3
"""Multi-size icons written by gloxen-convert, as headless Chromium shows them.

A website puts an icon in two places: in the page (<img src="fav.ico">) and in
the browser's tab strip (<link rel="icon" href="fav.ico">). This check serves
a small page over HTTP, lets Chromium load it, and compares what Chromium
shows with the images stored in the icon:

* The <img> at its natural size: Chromium shows the icon's largest image. The
  viewport (set to VIEW_W x VIEW_H, one device pixel per CSS pixel) is
  captured and compared, pixel by pixel, with that image composed over the
  page's background colour in sRGB values (browsers compose in sRGB, not in
  linear light), and with the background everywhere else. The <img>'s
  natural size must be that of the largest image.
* The favicon: a headless browser has no tab strip, so the check reads back
  the bitmaps Chromium's favicon service stored for the page, through
  chrome://favicon/size/16@1x/... and .../32@1x/..., and compares them with the
  icon's own 16 x 16 and 32 x 32 images.

Chromium is driven over the DevTools protocol on a pipe (--remote-debugging-pipe):
the favicon is fetched only after the page has loaded, so a plain
"--screenshot" run may quit before the favicon is stored. Every wait is on a
result, with generous deadlines for a slow machine.

Colours are compared composed over the background (the page) or
premultiplied (the favicons: colour x alpha / 255, and alpha), as Chromium
keeps images premultiplied; the tolerances are TOLERANCE and
FAVICON_TOLERANCE levels of 255 per channel.

Usage: chromium_icon_check.py --converter PATH [--keep]
Exit status 0 when every check passes; 1 with a report otherwise. A missing
Chromium is a failure, not a skip.
"""

import argparse
import base64
import fcntl
import functools
import http.server
import io
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image

# Largest allowed difference per channel, in levels of 255, between the page
# as Chromium shows it and the largest image composed over the background.
# Chromium rounds when it premultiplies and again when it composes: one level
# is what it shows on this machine, two leave room for another Skia build.
TOLERANCE = 2

# The same for the favicon bitmaps, compared premultiplied. They go through
# one premultiply and unpremultiply round trip only, which comes back to the
# same premultiplied values (no difference is seen here); one level allows
# for a different rounding. It is kept this small on purpose: Chromium's own
# downscaling of the 48 or 256 image differs from our 16 and 32 images by two
# to four levels on this fixture, so a favicon made from a bigger entry fails.
FAVICON_TOLERANCE = 1

# Page background: a colour every channel of which differs from the icon's
# colours, so that a wrong alpha shows in every channel.
BACKGROUND = (0x33, 0x66, 0x99)

# The viewport and where the <img> lies in it, in CSS pixels (one device
# pixel each: the device scale factor is set to 1).
VIEW_W, VIEW_H = 300, 300
IMG_X, IMG_Y = 20, 24

# Deadlines in seconds. They only bound a wait for a result that normally
# comes in well under a second; they are long so a loaded machine passes.
STARTUP_TIMEOUT = 90
STEP_TIMEOUT = 60
FAVICON_TIMEOUT = 60

# The icons under test: file name, converter options, and which of their
# sizes must be stored as PNG (the rest as 32-bit bitmaps).
SIZES = (16, 32, 48, 256)
ICONS = (
    ("fav-png256.ico", ["--png", "256"], {256}),
    ("fav-bmp.ico", [], set()),
    ("fav-pngall.ico", ["--png", "all"], set(SIZES)),
)


class CheckFailure(Exception):
    """A difference between what Chromium shows and what the icon holds."""


# --- The source picture ---------------------------------------------------

def make_source_picture(path):
    """Writes a 300 x 300 RGBA PNG: a disc with a soft edge, coloured by a
    gradient, on a transparent background.

    The size is no icon size, so every entry is resampled. The transparent
    pixels keep the gradient's colours (not black), so a reader that ignored
    alpha would show them, and the converter's default black key never
    applies."""
    size = 300
    centre = size / 2.0
    radius = size * 0.42
    edge = size * 0.12
    picture = Image.new("RGBA", (size, size))
    pixels = []
    for y in range(size):
        for x in range(size):
            distance = math.hypot(x + 0.5 - centre, y + 0.5 - centre)
            alpha = max(0.0, min(1.0, (radius - distance) / edge))
            pixels.append((255 * x // (size - 1),
                           40 + 200 * y // (size - 1),
                           220 - 180 * x // (size - 1),
                           int(round(alpha * 255))))
    picture.putdata(pixels)
    picture.save(path)


# --- Reading the icon -------------------------------------------------------

def read_icon(path):
    """Returns the icon's images as a dict {size: (kind, RGBA image)}, kind
    being "png" or "bmp". Only square 32-bit entries are expected here; the
    bitmap entries are decoded by hand (bottom-up B,G,R,A rows, the AND mask
    after them is not needed as the alpha says the same)."""
    with open(path, "rb") as stream:
        data = stream.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise CheckFailure(f"{path}: not an icon file")
    images = {}
    for index in range(count):
        width, height, _colours, _reserved, _planes, _bits, length, offset = \
            struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
        width = width or 256
        height = height or 256
        blob = data[offset:offset + length]
        if blob.startswith(b"\x89PNG\r\n\x1a\n"):
            image = Image.open(io.BytesIO(blob))
            image.load()
            images[width] = ("png", image.convert("RGBA"))
            continue
        header_size, bmp_w, bmp_h, _planes, bits = struct.unpack_from("<IiiHH", blob, 0)
        if bits != 32 or bmp_w != width or bmp_h != 2 * height:
            raise CheckFailure(f"{path}: entry {index} is a {bmp_w} x {bmp_h} "
                               f"{bits}-bit bitmap, expected {width} x {2 * height} 32-bit")
        colour = blob[header_size:header_size + width * height * 4]
        image = Image.frombytes("RGBA", (width, height), colour, "raw", "BGRA", 0, -1)
        images[width] = ("bmp", image)
    return images


# --- Comparing pixels -------------------------------------------------------

def premultiplied(rgba):
    red, green, blue, alpha = rgba
    return (red * alpha + 127) // 255, (green * alpha + 127) // 255, \
        (blue * alpha + 127) // 255, alpha


def composed(rgba, background):
    """The straight-alpha pixel over an opaque background, in 8-bit sRGB."""
    alpha = rgba[3]
    return tuple((channel * alpha + under * (255 - alpha) + 127) // 255
                 for channel, under in zip(rgba[:3], background))


def worst_difference(expected, actual, width, tolerance):
    """Compares two equally long lists of pixel tuples. Returns the largest
    channel difference, the number of pixels off by more than tolerance and
    the first such pixel as (x, y, expected, actual)."""
    worst, bad, first = 0, 0, None
    for index, (want, got) in enumerate(zip(expected, actual)):
        difference = max(abs(a - b) for a, b in zip(want, got))
        worst = max(worst, difference)
        if difference > tolerance:
            bad += 1
            if first is None:
                first = (index % width, index // width, want, got)
    return worst, bad, first


# --- A small web server for the scratch folder ------------------------------

class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def start_server(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    return server


# --- Chromium over the DevTools protocol ------------------------------------

class Chromium:
    """A headless Chromium driven over --remote-debugging-pipe: commands are
    JSON messages ended by a NUL byte, written to the browser's fd 3, and
    replies and events come back on its fd 4."""

    def __init__(self, executable, scratch):
        self.log_path = os.path.join(scratch, "chromium.log")
        profile = os.path.join(scratch, "profile")
        # As root Chromium refuses to start without --no-sandbox; the GPU is
        # left out, as CI has none. The viewport and the device scale factor
        # are set per tab (see run()).
        args = [executable, "--headless=new", "--no-sandbox", "--disable-gpu",
                "--hide-scrollbars", f"--user-data-dir={profile}",
                "--remote-debugging-pipe", "about:blank"]
        to_browser_read, to_browser_write = os.pipe()
        from_browser_read, from_browser_write = os.pipe()

        def place_pipe_ends():
            # In the child: the pipe ends go to fds 3 and 4 (through copies
            # above 10, so that no end is overwritten by the other).
            read_copy = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
            write_copy = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
            os.dup2(read_copy, 3)
            os.dup2(write_copy, 4)
            os.close(read_copy)
            os.close(write_copy)

        environment = dict(os.environ, HOME=scratch)
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                args, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                env=environment, close_fds=False, preexec_fn=place_pipe_ends)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.commands = os.fdopen(to_browser_write, "wb")
        self.replies = os.fdopen(from_browser_read, "rb")
        self.next_id = 0
        self.messages = []
        self.closed = False
        self.condition = threading.Condition()
        threading.Thread(target=self._read_replies, daemon=True).start()

    def _read_replies(self):
        pending = b""
        while True:
            chunk = self.replies.read1(1 << 16)
            if not chunk:
                with self.condition:
                    self.closed = True
                    self.condition.notify_all()
                return
            pending += chunk
            while b"\0" in pending:
                message, pending = pending.split(b"\0", 1)
                with self.condition:
                    self.messages.append(json.loads(message))
                    self.condition.notify_all()

    def wait_for(self, matches, timeout, what):
        """Waits for (and takes out) the first message for which matches()
        is true."""
        deadline = time.monotonic() + timeout
        with self.condition:
            while True:
                for index, message in enumerate(self.messages):
                    if matches(message):
                        del self.messages[index]
                        return message
                if self.closed:
                    raise CheckFailure(f"Chromium closed its pipe while waiting for {what}"
                                       f"{self.log_tail()}")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise CheckFailure(f"no {what} from Chromium within {timeout} s"
                                       f"{self.log_tail()}")
                self.condition.wait(left)

    def forget_events(self, session):
        with self.condition:
            self.messages = [m for m in self.messages
                             if not ("method" in m and m.get("sessionId") == session)]

    def send(self, method, params=None, session=None, timeout=STEP_TIMEOUT):
        self.next_id += 1
        number = self.next_id
        message = {"id": number, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        try:
            self.commands.write(json.dumps(message).encode() + b"\0")
            self.commands.flush()
        except BrokenPipeError:
            raise CheckFailure(f"Chromium is gone (sending {method}){self.log_tail()}")
        reply = self.wait_for(lambda m: m.get("id") == number, timeout, f"reply to {method}")
        if "error" in reply:
            raise CheckFailure(f"{method} failed: {reply['error']}")
        return reply["result"]

    def first_tab(self):
        """Attaches to the tab Chromium opened at start, the one in front."""
        targets = self.send("Target.getTargets", timeout=STARTUP_TIMEOUT)["targetInfos"]
        pages = [target for target in targets if target["type"] == "page"]
        if not pages:
            raise CheckFailure(f"Chromium opened no tab{self.log_tail()}")
        return self._attach(pages[0]["targetId"])

    def background_tab(self):
        """Opens a tab behind the first one, which stays visible."""
        target = self.send("Target.createTarget", {"url": "about:blank", "background": True})
        return self._attach(target["targetId"])

    def _attach(self, target):
        session = self.send("Target.attachToTarget",
                            {"targetId": target, "flatten": True})["sessionId"]
        self.send("Page.enable", session=session)
        return session

    def load(self, session, url):
        """Navigates the tab and waits for the load event."""
        self.forget_events(session)
        result = self.send("Page.navigate", {"url": url}, session=session)
        if result.get("errorText"):
            raise CheckFailure(f"Chromium could not load {url}: {result['errorText']}")
        self.wait_for(lambda m: m.get("method") == "Page.loadEventFired"
                      and m.get("sessionId") == session, STEP_TIMEOUT, f"load of {url}")

    def evaluate(self, session, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, session=session)
        if "exceptionDetails" in result:
            raise CheckFailure(f"script failed in the page: {result['exceptionDetails']}")
        return result["result"].get("value")

    def fetch_document(self, session, url):
        """Loads url in the tab and returns the bytes of its response (the tab
        needs Network.enable)."""
        self.forget_events(session)
        self.send("Page.navigate", {"url": url}, session=session)
        response = self.wait_for(lambda m: m.get("method") == "Network.responseReceived"
                                 and m.get("sessionId") == session
                                 and m["params"].get("type") == "Document",
                                 STEP_TIMEOUT, f"response for {url}")
        request = response["params"]["requestId"]
        self.wait_for(lambda m: m.get("method") in ("Network.loadingFinished",
                                                    "Network.loadingFailed")
                      and m.get("sessionId") == session
                      and m["params"].get("requestId") == request,
                      STEP_TIMEOUT, f"end of {url}")
        body = self.send("Network.getResponseBody", {"requestId": request}, session=session)
        if body["base64Encoded"]:
            return base64.b64decode(body["body"])
        return body["body"].encode("latin-1")

    def log_tail(self):
        try:
            with open(self.log_path, "rb") as log:
                lines = log.read().decode("utf-8", "replace").splitlines()
        except OSError:
            return ""
        # The D-Bus complaints of a machine without a session bus say nothing.
        lines = [line for line in lines if "dbus" not in line][-15:]
        return "\nChromium's log ends with:\n  " + "\n  ".join(lines) if lines else ""

    def close(self):
        if self.process.poll() is None:
            try:
                self.send("Browser.close", timeout=20)
            except CheckFailure:
                pass
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.commands.close()


# --- The checks --------------------------------------------------------------

def write_page(folder, page_name, icon_name):
    background = "#%02x%02x%02x" % BACKGROUND
    with open(os.path.join(folder, page_name), "w", encoding="utf-8") as page:
        page.write(f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{icon_name}</title>
<link rel="icon" href="{icon_name}">
<style>
html, body {{ margin: 0; background: {background}; overflow: hidden; }}
img {{ position: absolute; left: {IMG_X}px; top: {IMG_Y}px; }}
</style></head>
<body><img id="icon" src="{icon_name}" alt=""></body></html>
""")


def check_page_image(browser, session, icon_name, images, capture_path):
    """The <img> at natural size: the largest entry over the background, and
    the background everywhere else in the viewport."""
    natural = browser.evaluate(session, """
        (async () => {
          const icon = document.getElementById('icon');
          await icon.decode();
          return [icon.naturalWidth, icon.naturalHeight];
        })()""")
    largest = max(images)
    if natural != [largest, largest]:
        raise CheckFailure(f"{icon_name}: Chromium gives the <img> a natural size of "
                           f"{natural[0]} x {natural[1]}, expected the largest image, "
                           f"{largest} x {largest}")

    shot = browser.send("Page.captureScreenshot", {"format": "png"}, session=session)
    with open(capture_path, "wb") as out:
        out.write(base64.b64decode(shot["data"]))
    capture = Image.open(capture_path).convert("RGB")
    if capture.size != (VIEW_W, VIEW_H):
        raise CheckFailure(f"{icon_name}: the capture is {capture.size[0]} x {capture.size[1]}, "
                           f"expected the {VIEW_W} x {VIEW_H} viewport")

    expected = Image.new("RGB", (VIEW_W, VIEW_H), BACKGROUND)
    _, image = images[largest]
    over = [composed(pixel, BACKGROUND) for pixel in image.getdata()]
    inner = Image.new("RGB", image.size)
    inner.putdata(over)
    expected.paste(inner, (IMG_X, IMG_Y))
    worst, bad, first = worst_difference(list(expected.getdata()), list(capture.getdata()),
                                         VIEW_W, TOLERANCE)
    if bad:
        x, y, want, got = first
        raise CheckFailure(f"{icon_name}: the page shows {bad} pixels more than {TOLERANCE} "
                           f"levels away from the {largest} x {largest} image over the "
                           f"background (worst {worst}); first at viewport ({x}, {y}): "
                           f"expected {want}, Chromium shows {got}; capture in {capture_path}")
    return worst


def check_favicon(browser, poll_session, page_url, icon_name, images, default_icon, folder):
    """The bitmaps Chromium's favicon service stored for the page, against the
    icon's 16 x 16 and 32 x 32 images. The favicon is fetched after the page's
    load event, so the 16 x 16 one is asked for until it is no longer the
    default icon."""
    small_url = f"chrome://favicon/size/16@1x/{page_url}"
    deadline = time.monotonic() + FAVICON_TIMEOUT
    while True:
        stored = browser.fetch_document(poll_session, small_url)
        if stored != default_icon:
            break
        if time.monotonic() > deadline:
            raise CheckFailure(f"{icon_name}: Chromium shows no favicon for the page within "
                               f"{FAVICON_TIMEOUT} s (still the default icon)"
                               f"{browser.log_tail()}")
        time.sleep(0.2)

    worst_all = 0
    for size, data in ((16, stored),
                       (32, browser.fetch_document(poll_session,
                                                   f"chrome://favicon/size/32@1x/{page_url}"))):
        saved = os.path.join(folder, f"{icon_name}.favicon{size}.png")
        with open(saved, "wb") as out:
            out.write(data)
        favicon = Image.open(io.BytesIO(data)).convert("RGBA")
        if favicon.size != (size, size):
            raise CheckFailure(f"{icon_name}: Chromium's {size} px favicon is "
                               f"{favicon.size[0]} x {favicon.size[1]} ({saved})")
        _, ours = images[size]
        worst, bad, first = worst_difference([premultiplied(p) for p in ours.getdata()],
                                             [premultiplied(p) for p in favicon.getdata()],
                                             size, FAVICON_TOLERANCE)
        if bad:
            x, y, want, got = first
            raise CheckFailure(f"{icon_name}: Chromium's {size} x {size} favicon has {bad} pixels "
                               f"more than {FAVICON_TOLERANCE} level away from the icon's {size} x "
                               f"{size} image (worst {worst}, premultiplied); first at ({x}, {y}): "
                               f"expected {want}, Chromium has {got}; saved in {saved}")
        worst_all = max(worst_all, worst)
    return worst_all


def convert(converter, source, target, extra):
    args = [converter, "--size", ",".join(str(s) for s in SIZES), *extra,
            "--depth", "32", "--alpha", "keep", "--filter", "lanczos", "-o", target, source]
    result = subprocess.run(args, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise CheckFailure(f"gloxen-convert failed ({result.returncode}): {' '.join(args)}\n"
                           f"{result.stdout}{result.stderr}")


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        found = shutil.which(name)
        if found:
            return found
    raise CheckFailure("Chromium is not installed (looked for chromium, chromium-browser "
                       "and google-chrome on the PATH); this check needs it")


def run(converter, scratch):
    chromium = find_chromium()
    source = os.path.join(scratch, "disc.png")
    make_source_picture(source)

    icons = []
    for name, extra, png_sizes in ICONS:
        path = os.path.join(scratch, name)
        convert(converter, source, path, extra)
        images = read_icon(path)
        if sorted(images) != list(SIZES):
            raise CheckFailure(f"{name}: holds the sizes {sorted(images)}, expected {list(SIZES)}")
        stored_png = {size for size, (kind, _) in images.items() if kind == "png"}
        if stored_png != png_sizes:
            raise CheckFailure(f"{name}: PNG entries {sorted(stored_png)}, "
                               f"expected {sorted(png_sizes)}")
        page_name = name.replace(".ico", ".html")
        write_page(scratch, page_name, name)
        icons.append((name, images, page_name))

    server = start_server(scratch)
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    browser = Chromium(chromium, scratch)
    report = []
    try:
        # The page goes into the visible tab (a hidden tab does not paint,
        # and its images are not decoded); chrome://favicon is read in another.
        page_tab = browser.first_tab()
        poll_tab = browser.background_tab()
        # The headless window keeps room for a toolbar and has a minimum
        # width, so the viewport is set as --screenshot sets it: exactly
        # VIEW_W x VIEW_H, one device pixel per CSS pixel.
        browser.send("Emulation.setDeviceMetricsOverride",
                     {"width": VIEW_W, "height": VIEW_H, "deviceScaleFactor": 1,
                      "mobile": False}, session=page_tab)
        browser.send("Network.enable", session=poll_tab)
        # What chrome://favicon gives for a page Chromium has never seen: the
        # default icon, which a page's favicon replaces once it is stored.
        default_icon = browser.fetch_document(
            poll_tab, f"chrome://favicon/size/16@1x/{base}never-visited.html")

        for name, images, page_name in icons:
            page_url = base + page_name
            browser.load(page_tab, page_url)
            largest = max(images)
            worst_page = check_page_image(browser, page_tab, name, images,
                                          os.path.join(scratch, page_name + ".png"))
            worst_favicon = check_favicon(browser, poll_tab, page_url, name, images,
                                          default_icon, scratch)
            report.append(f"{name}: <img> shows the {largest} x {largest} "
                          f"{images[largest][0].upper()} entry (worst difference {worst_page}); "
                          f"favicon 16 and 32 match the icon's entries "
                          f"(worst difference {worst_favicon})")
    finally:
        browser.close()
        server.shutdown()
        server.server_close()
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--converter", required=True, help="path of gloxen-convert")
    parser.add_argument("--keep", action="store_true",
                        help="keep the scratch folder (it is always kept on failure)")
    options = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="gloxen-chromium-")
    started = time.monotonic()
    try:
        report = run(os.path.abspath(options.converter), scratch)
    except CheckFailure as failure:
        print(f"FAILED: {failure}\n(scratch folder kept: {scratch})", file=sys.stderr)
        return 1
    for line in report:
        print(line)
    print(f"tolerance: page {TOLERANCE} levels, favicon {FAVICON_TOLERANCE} level; "
          f"{time.monotonic() - started:.1f} s")
    if options.keep:
        print(f"scratch folder: {scratch}")
    else:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
