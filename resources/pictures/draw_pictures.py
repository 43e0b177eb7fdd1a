#!/usr/bin/python3
"""Draws the program's small pictures into this folder.

The pictures are committed; run this only to change them:
    /usr/bin/python3 resources/pictures/draw_pictures.py
It needs Pillow and the DejaVu fonts (fonts-dejavu-core).

    eyedropper-cursor.png  21 x 21, the pick cursor: a pipette from the upper
                           right down to its tip at (3, 16), on the plain
                           background RGB (212, 208, 200) that the window
                           turns into the cursor's transparent part.
    eyedropper.png         21 x 21, the same pipette as the pick button's
                           glyph; the button leaves out the colour of the
                           bottom-left pixel, the same background.
    palette.png            48 x 48, a painter's palette on white. It is shown
                           transparent, the bottom-left pixel's colour being
                           left out, so no white paint appears on it.
    logo96.png             96 x 96, the logo: a white speech bubble holding
                           the word ICON on a dark teal square.
    gloxen48.png           48 x 48, the logo at window-icon size.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

CURSOR_BACKGROUND = (212, 208, 200)
TIP = (3, 16)
OUTLINE = (0, 0, 0)
GLASS = (190, 228, 246)
LIQUID = (40, 110, 200)
COLLAR = (90, 90, 96)
BULB = (200, 30, 30)
BULB_LIGHT = (240, 110, 100)
TEAL = (0, 92, 92)


def pipette(background):
    """The pipette lying on the diagonal, its tip at TIP, pixel art without
    smoothing so that the background stays one exact colour."""
    size = 21
    root = math.sqrt(2.0)

    def part(x, y):
        # Position along the pipette (u, from the tip towards the upper
        # right) and across it (v), in pixels.
        dx, dy = x - TIP[0], y - TIP[1]
        u = (dx - dy) / root
        v = (dx + dy) / root
        if u < -0.5:
            return None
        if u < 3.0:
            return "tip" if abs(v) <= 0.55 + u * 0.25 else None
        if u < 12.0:
            return "glass" if abs(v) <= 1.75 else None
        if u < 14.2:
            return "collar" if abs(v) <= 2.6 else None
        if u < 20.0:
            # The bulb: a rounded end.
            r = 2.4 if u < 18.0 else 2.4 - (u - 18.0) * 1.0
            return "bulb" if abs(v) <= r else None
        return None

    image = Image.new("RGB", (size, size), background)
    pixels = image.load()
    inside = {(x, y): part(x, y) for x in range(size) for y in range(size)}
    for (x, y), name in inside.items():
        if name is None:
            continue
        edge = any(inside.get((x + a, y + b)) is None for a, b in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        dx, dy = x - TIP[0], y - TIP[1]
        u = (dx - dy) / root
        v = (dx + dy) / root
        if name == "tip":
            colour = OUTLINE
        elif edge:
            colour = OUTLINE
        elif name == "glass":
            colour = LIQUID if u < 7.5 else GLASS
        elif name == "collar":
            colour = COLLAR
        else:
            colour = BULB_LIGHT if v < -0.5 and u < 18.0 else BULB
        pixels[x, y] = colour
    # The drawing never uses the background colour itself.
    assert pixels[TIP] != background and pixels[1, 1] == background
    assert pixels[0, size - 1] == background
    return image


def palette():
    scale = 8
    size = 48 * scale
    image = Image.new("RGB", (size, size), (255, 255, 255))
    draw = ImageDraw.Draw(image)

    def s(*values):
        return [v * scale for v in values]

    wood = (222, 184, 135)
    rim = (120, 80, 40)
    draw.ellipse(s(3, 9, 45, 41), fill=wood, outline=rim, width=2 * scale)
    # The thumb hole, showing the white background through it.
    draw.ellipse(s(11, 27, 19, 34), fill=(255, 255, 255), outline=rim, width=scale)
    for (x, y), colour in (((12, 16), (220, 30, 30)), ((21, 13), (245, 200, 0)), ((30, 14), (40, 170, 60)),
                           ((37, 21), (30, 80, 220)), ((31, 30), (0, 128, 128)), ((22, 31), (140, 40, 160))):
        draw.ellipse(s(x - 3, y - 3, x + 3, y + 3), fill=colour)
    # A brush lying across the palette.
    draw.line(s(42, 3, 26, 25), fill=(110, 60, 20), width=3 * scale)
    draw.polygon(s(26, 25, 22, 31, 29, 27), fill=(30, 30, 30))
    image = image.resize((48, 48), Image.LANCZOS)
    # Smoothing may not leave pure white anywhere but the background, which
    # the window leaves out; near-white paint stays visible.
    pixels = image.load()
    for y in range(48):
        for x in range(48):
            if pixels[x, y] == (255, 255, 255):
                continue
            if min(pixels[x, y]) >= 250:
                pixels[x, y] = (255, 255, 255)
    return image


def logo(size):
    scale = 8
    big = size * scale
    image = Image.new("RGB", (big, big), TEAL)
    draw = ImageDraw.Draw(image)
    f = big / 96.0

    def s(*values):
        return [round(v * f) for v in values]

    draw.rounded_rectangle(s(8, 16, 88, 66), radius=round(14 * f), fill=(255, 255, 255))
    draw.polygon(s(24, 62, 40, 62, 18, 84), fill=(255, 255, 255))
    font = ImageFont.truetype(FONT, round(28 * f))
    draw.text((round(48 * f), round(41 * f)), "ICON", font=font, fill=TEAL, anchor="mm")
    return image.resize((size, size), Image.LANCZOS)


def main():
    pipette(CURSOR_BACKGROUND).save(os.path.join(HERE, "eyedropper-cursor.png"))
    pipette(CURSOR_BACKGROUND).save(os.path.join(HERE, "eyedropper.png"))
    palette().save(os.path.join(HERE, "palette.png"))
    logo(96).save(os.path.join(HERE, "logo96.png"))
    logo(48).save(os.path.join(HERE, "gloxen48.png"))


if __name__ == "__main__":
    main()
