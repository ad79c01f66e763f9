#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Judges a screenshot of the orvex window at a display scale (tools/hidpi/check.sh).

shotcheck.py picture-shown SHOT
    exit 0 once the camera's picture (one solid colour) fills most of the window.
shotcheck.py window SHOT DPI WIDTHxHEIGHT REFERENCE [TOLERANCE]
    checks the window's size, the picture's place and extent, and that every
    text of the form is whole. At 96 dpi the texts' measurements are written
    to REFERENCE; at other DPIs they are compared with it, widths within
    TOLERANCE (default 0.06: a lost narrow character is about 0.1).

A text is whole when its ink keeps clear of its control's edges (clipped
glyphs end right at them) and has the width and height of the text at
100 %, times the scale: a lost character or a cut-off row of pixels shows.
"""
import math
import subprocess
import sys

PICTURE = (0xC0, 0x20, 0x80)
# The form in the window's own, unscaled pixels, and the texts in it.
CONTROLS = [
    ("label IP:", (50, 505, 21, 17)),
    ("label Port:", (260, 505, 41, 17)),
    ("address field", (80, 500, 151, 27)),
    ("port field", (310, 500, 91, 27)),
    ("Start/Stop button", (420, 500, 100, 27)),
    ("Capture button", (530, 500, 100, 27)),
]
# Ink: the form's texts are dark, if thin and light grey in Wine's fonts at
# 100 %. The frames, bevels and focus frames of fields and buttons are left
# out by looking only inside them, this many unscaled pixels in from the edge.
INK_LEVEL = 160
FRAME = {"label": 0, "field": 3, "button": 4}


class Image:
    def __init__(self, path):
        ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                             capture_output=True).stdout
        fields = []
        at = 0
        while len(fields) < 4:
            while ppm[at:at + 1].isspace():
                at += 1
            start = at
            while not ppm[at:at + 1].isspace():
                at += 1
            fields.append(ppm[start:at])
        assert fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit PPM"
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[at + 1:]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])


def similar(a, b, tolerance=24):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def bounding_box(image, rect, test):
    """(left, top, right, bottom) of the pixels in rect that pass test, or None."""
    x0, y0 = max(0, rect[0]), max(0, rect[1])
    x1, y1 = min(image.width, rect[2]), min(image.height, rect[3])
    box = None
    for y in range(y0, y1):
        for x in range(x0, x1):
            if test(image.pixel(x, y)):
                if box is None:
                    box = [x, y, x, y]
                else:
                    box = [min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y)]
    return box


def scaled_rect(scale, rect):
    x, y, w, h = rect
    return (round(x * scale), round(y * scale), round((x + w) * scale), round((y + h) * scale))


def picture_shown(path):
    image = Image(path)
    step = 13
    hits = sum(similar(image.pixel(x, y), PICTURE)
               for y in range(0, image.height, step) for x in range(0, image.width, step))
    total = len(range(0, image.height, step)) * len(range(0, image.width, step))
    return hits > total * 0.6


def check_window(path, dpi, size, reference_path, tolerance):
    dpi = int(dpi)
    scale = dpi / 96
    image = Image(path)
    failures = []
    width, height = (int(n) for n in size.split("x"))
    want = (650 * scale, 540 * scale)
    if abs(width - want[0]) > 2 or abs(height - want[1]) > 2:
        failures.append(f"window {width}x{height}, expected {want[0]:g}x{want[1]:g}")
    print(f"{dpi} dpi (scale {scale:g}): window {width}x{height}")
    # The controls are looked for where the window's actual size puts them,
    # so that the texts are judged even in a window of the wrong size.
    found_scale = image.width / 650

    # The picture shows its 630x470 from (10, 10) of the window on: its
    # extent along a row and a column that miss the overlay.
    row, column = round(240 * scale), round(200 * scale)
    across = bounding_box(image, (0, row, image.width, row + 1), lambda p: similar(p, PICTURE))
    down = bounding_box(image, (column, 0, column + 1, image.height),
                        lambda p: similar(p, PICTURE))
    box = across and down and [across[0], down[1], across[2], down[3]]
    want = [10 * scale, 10 * scale, 640 * scale - 1, 480 * scale - 1]
    if not box or any(abs(b - w) > 2 for b, w in zip(box, want)):
        failures.append(f"picture spans {box}, expected {[round(w) for w in want]}")
    else:
        print(f"  picture from ({box[0]}, {box[1]}) to ({box[2]}, {box[3]})")

    measured = {}
    for name, rect in CONTROLS:
        x0, y0, x1, y1 = scaled_rect(found_scale, rect)
        kind = next(k for k in FRAME if k in name)
        inset = math.ceil(FRAME[kind] * found_scale)
        inner = (x0 + inset, y0 + inset, x1 - inset, y1 - inset)
        ink = bounding_box(image, inner, lambda p: max(p) < INK_LEVEL)
        if ink is None:
            failures.append(f"{name}: no text")
            continue
        left, top, right, bottom = ink
        print(f"  {name}: text ink {right - left + 1}x{bottom - top + 1} at "
              f"({left - x0}, {top - y0}) in {x1 - x0}x{y1 - y0}, looked at from {inset} in")
        # A clipped glyph runs into the edge; a whole text keeps a pixel clear.
        # Left-aligned texts may start right at their margin: for them a lost
        # first character shows in the width instead.
        clear_left = left > inner[0] or kind != "button"
        if not (clear_left and top > inner[1] and right < inner[2] - 1 and bottom < inner[3] - 1):
            failures.append(f"{name}: text touches the edge of its control")
        measured[name] = (right - left + 1, bottom - top + 1)

    if dpi == 96:
        with open(reference_path, "w") as reference:
            for name, (w, h) in measured.items():
                reference.write(f"{w} {h} {name}\n")
    else:
        with open(reference_path) as reference:
            for line in reference:
                w, h, name = line.rstrip("\n").split(" ", 2)
                if name not in measured:
                    continue
                got_w, got_h = measured[name]
                want_w, want_h = int(w) * scale, int(h) * scale
                if abs(got_w - want_w) > max(2, tolerance * want_w) \
                        or abs(got_h - want_h) > max(2, 0.2 * want_h):
                    failures.append(f"{name}: text ink {got_w}x{got_h}, at 100 % {w}x{h}, "
                                    f"so about {want_w:.0f}x{want_h:.0f} expected")

    for failure in failures:
        print(f"  FAIL {failure}")
    return not failures


def main():
    if sys.argv[1:2] == ["picture-shown"] and len(sys.argv) == 3:
        return 0 if picture_shown(sys.argv[2]) else 1
    if sys.argv[1:2] == ["window"] and len(sys.argv) in (6, 7):
        tolerance = float(sys.argv[6]) if len(sys.argv) == 7 else 0.06
        return 0 if check_window(*sys.argv[2:6], tolerance) else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
