#!/usr/bin/env python3
"""Draws start-up time against level size from the table bench/startup-curve.sh writes.

Use: bench/plot-startup.py [TABLE [IMAGE]]   (defaults: bench/startup-curve.tsv, bench/startup-curve.png)

Both axes are logarithmic: the levels span three orders of magnitude of triangles. One line per build and core
count: colour for the build, solid for two cores and dashed for one. Needs Python 3 with PIL (python3-pil).
"""
import csv
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 900, 600
LEFT, RIGHT, TOP, BOTTOM = 90, 220, 60, 80
COLOURS = {"before": (200, 60, 40), "now": (30, 90, 200)}


def font(size):
    for path in ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",):
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()


def read_table(path):
    with open(path, newline="") as table:
        rows = list(csv.DictReader(table, delimiter="\t"))
    if not rows:
        sys.exit("plot-startup: %s has no rows" % path)
    series = {}
    for row in rows:
        key = (row["build"], int(row["cores"]))
        series.setdefault(key, []).append((int(row["triangles"]), float(row["first_frame_s"]), row["level"]))
    for points in series.values():
        points.sort()
    return series


def decades(low, high, mantissas):
    """Tick values m x 10^k covering [low, high]."""
    ticks = []
    for k in range(math.floor(math.log10(low)) - 1, math.ceil(math.log10(high)) + 1):
        for m in mantissas:
            v = m * 10.0 ** k
            if low <= v <= high:
                ticks.append(v)
    return ticks


def dashed_line(draw, a, b, colour, width, dashed):
    if not dashed:
        draw.line([a, b], fill=colour, width=width)
        return
    length = math.hypot(b[0] - a[0], b[1] - a[1])
    steps = max(1, int(length // 8))
    for i in range(0, steps, 2):
        t0, t1 = i / steps, min(1.0, (i + 1) / steps)
        draw.line([(a[0] + (b[0] - a[0]) * t0, a[1] + (b[1] - a[1]) * t0),
                   (a[0] + (b[0] - a[0]) * t1, a[1] + (b[1] - a[1]) * t1)], fill=colour, width=width)


def main():
    table = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "startup-curve.tsv")
    image_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "startup-curve.png")
    series = read_table(table)
    xs = [p[0] for points in series.values() for p in points]
    ys = [p[1] for points in series.values() for p in points]
    x_low, x_high = min(xs) / 1.5, max(xs) * 1.5
    y_low, y_high = min(ys) / 1.3, max(ys) * 1.3

    def to_pixel(x, y):
        fx = (math.log(x) - math.log(x_low)) / (math.log(x_high) - math.log(x_low))
        fy = (math.log(y) - math.log(y_low)) / (math.log(y_high) - math.log(y_low))
        return LEFT + fx * (WIDTH - LEFT - RIGHT), HEIGHT - BOTTOM - fy * (HEIGHT - TOP - BOTTOM)

    image = Image.new("RGB", (WIDTH, HEIGHT), "white")
    draw = ImageDraw.Draw(image)
    small, normal = font(13), font(16)
    draw.text((LEFT, 20), "Launch to first frame against level size (medians)", fill="black", font=normal)
    for y in decades(y_low, y_high, (1, 2, 3, 5)):
        _, py = to_pixel(x_low, y)
        draw.line([(LEFT, py), (WIDTH - RIGHT, py)], fill=(225, 225, 225))
        draw.text((LEFT - 8, py), "%g" % y, fill="black", font=small, anchor="rm")
    for x in decades(x_low, x_high, (1, 2, 5)):
        px, _ = to_pixel(x, y_low)
        draw.line([(px, TOP), (px, HEIGHT - BOTTOM)], fill=(225, 225, 225))
        label = "%gM" % (x / 1e6) if x >= 1e6 else "%gk" % (x / 1e3)
        draw.text((px, HEIGHT - BOTTOM + 8), label, fill="black", font=small, anchor="mt")
    draw.rectangle([LEFT, TOP, WIDTH - RIGHT, HEIGHT - BOTTOM], outline="black")
    draw.text(((LEFT + WIDTH - RIGHT) / 2, HEIGHT - 30), "triangles in the level", fill="black", font=normal,
              anchor="mm")
    draw.text((10, (TOP + HEIGHT - BOTTOM) / 2), "seconds", fill="black", font=normal, anchor="lm")

    legend_y = TOP + 10
    for (build, cores) in sorted(series, key=lambda k: (k[0] != "before", -k[1])):
        colour, dashed = COLOURS.get(build, (0, 0, 0)), cores == 1
        pixels = [to_pixel(x, y) for x, y, _ in series[(build, cores)]]
        for a, b in zip(pixels, pixels[1:]):
            dashed_line(draw, a, b, colour, 3, dashed)
        for px, py in pixels:
            draw.ellipse([px - 4, py - 4, px + 4, py + 4], fill=colour)
        lx = WIDTH - RIGHT + 20
        dashed_line(draw, (lx, legend_y), (lx + 40, legend_y), colour, 3, dashed)
        draw.text((lx + 50, legend_y), "%s, %d core%s" % (build, cores, "" if cores == 1 else "s"), fill="black",
                  font=small, anchor="lm")
        legend_y += 24
    for x, _, level in series[next(iter(series))]:
        px, _ = to_pixel(x, y_low)
        draw.text((px, HEIGHT - BOTTOM - 6), level, fill=(90, 90, 90), font=small, anchor="mb")
    image.save(image_path)
    print(image_path)


if __name__ == "__main__":
    main()
