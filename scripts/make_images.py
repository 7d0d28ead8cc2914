#!/usr/bin/env python3
"""Draws the pictures of the compiled-in resource collection (viewer/app/images/).

Run with Debian's interpreter and Pillow (apt-get install python3-pil):
    /usr/bin/python3 scripts/make_images.py
The PNGs are committed, so building needs neither.
"""
import math
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "viewer", "app", "images")

TEAL = (39, 99, 122, 255)      # #27637A, the trace colour
ORANGE = (211, 103, 55, 255)   # #D36737, the button colour
NAVY = (5, 28, 38, 255)        # #051C26, the frame colour
RED = (200, 30, 30, 255)
GREY = (105, 119, 125, 255)    # #69777D


def font(size, bold=False):
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    return ImageFont.truetype(os.path.join("/usr/share/fonts/truetype/dejavu", name), size)


def logo():
    """300 x 63: a field trace running into a sensor dot, and the company name."""
    img = Image.new("RGBA", (300, 63), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    # A damped oscillation, as a magnetometer would show it.
    points = []
    for x in range(6, 92):
        t = (x - 6) / 86.0
        y = 31.5 - 20 * math.exp(-2.2 * t) * math.sin(2 * math.pi * 3.2 * t)
        points.append((x, y))
    d.line(points, fill=TEAL, width=3, joint="curve")
    d.ellipse((88, 24, 103, 39), fill=ORANGE)
    d.text((114, 8), "Veltrane", font=font(26, bold=True), fill=NAVY)
    d.text((116, 38), "MEDICAL", font=font(13), fill=TEAL)
    return img


def gear(d, cx, cy, r_outer, r_inner, teeth, colour):
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_outer if (i % 4) in (0, 1) else r_inner
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    d.polygon(pts, fill=colour)
    hole = r_inner * 0.45
    d.ellipse((cx - hole, cy - hole, cx + hole, cy + hole), fill=(0, 0, 0, 0))


def settings():
    """157 x 53: a red record dot labelled Recording and a gear labelled Settings."""
    img = Image.new("RGBA", (157, 53), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse((24, 5, 52, 33), fill=RED)
    gear(d, 116, 19, 15, 11, 8, GREY)
    small = font(11)
    for text, cx in (("Recording", 38), ("Settings", 116)):
        w = d.textlength(text, font=small)
        d.text((cx - w / 2, 37), text, font=small, fill=NAVY)
    return img


def main():
    os.makedirs(OUT, exist_ok=True)
    logo().save(os.path.join(OUT, "logo.png"))
    settings().save(os.path.join(OUT, "settings.png"))


if __name__ == "__main__":
    main()
