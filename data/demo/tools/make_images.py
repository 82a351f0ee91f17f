#!/usr/bin/env python3
"""Draws the demo product's pictures and icons.

Writes, relative to data/demo/:
  setup/header.png, setup/header_dark.png      wizard header, 640 x 53
  setup/wizard_light.png, setup/wizard_dark.png side picture of the full-window pages, 188 x 435
  setup/addon_tagstudio.png                     picture of the add-ons page, 220 x 90
  payload/files/orvi.png, audio.png, video.png, playlist.png   the player's icons, 48 x 48
and stores a 16 x 16 flag icon (an .ico file, hex-encoded) in the "Icon=" line of
each language file of setup/.

Only the standard library is used: shapes are rendered with analytic
anti-aliasing or 4 x 4 supersampling, text with a small stroke font, and the
files are written by hand (PNG through zlib, ICO with a 32-bit DIB). The
output is deterministic, so running the script again changes nothing unless
the drawing changes. The build does not run it: the generated files are
committed.
"""

import math
import os
import struct
import sys
import zlib

DEMO_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def hex_color(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


# --- canvas and coverage masks ---------------------------------------------


class Canvas:
    """RGBA image with straight (non-premultiplied) alpha, values 0..1."""

    def __init__(self, width, height, color=(0, 0, 0), alpha=0.0):
        self.width = width
        self.height = height
        n = width * height
        self.r = [color[0]] * n
        self.g = [color[1]] * n
        self.b = [color[2]] * n
        self.a = [alpha] * n

    def blend(self, i, color, alpha):
        if alpha <= 0.0:
            return
        dst_a = self.a[i]
        out_a = alpha + dst_a * (1.0 - alpha)
        if out_a <= 0.0:
            return
        keep = dst_a * (1.0 - alpha)
        self.r[i] = (color[0] * alpha + self.r[i] * keep) / out_a
        self.g[i] = (color[1] * alpha + self.g[i] * keep) / out_a
        self.b[i] = (color[2] * alpha + self.b[i] * keep) / out_a
        self.a[i] = out_a

    def gradient(self, c0, c1, vertical=True, box=None, alpha=1.0):
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        span = (y1 - y0 if vertical else x1 - x0) - 1 or 1
        for y in range(y0, y1):
            for x in range(x0, x1):
                t = ((y - y0) if vertical else (x - x0)) / span
                self.blend(y * self.width + x, mix(c0, c1, t), alpha)

    def paint(self, mask, color, alpha=1.0, shade=None):
        """Composites a coverage mask in a colour; shade(x, y) may vary the colour."""
        for (x, y), cov in mask.items():
            if 0 <= x < self.width and 0 <= y < self.height:
                c = shade(x, y) if shade else color
                self.blend(y * self.width + x, c, cov * alpha)

    def rows(self, with_alpha):
        for y in range(self.height):
            row = bytearray()
            for x in range(self.width):
                i = y * self.width + x
                row += bytes((round(clamp01(self.r[i]) * 255),
                              round(clamp01(self.g[i]) * 255),
                              round(clamp01(self.b[i]) * 255)))
                if with_alpha:
                    row.append(round(clamp01(self.a[i]) * 255))
            yield bytes(row)


class Mask(dict):
    """Coverage per pixel (x, y) -> 0..1; overlapping shapes keep the maximum,
    so strokes that meet at a joint are not painted twice."""

    def put(self, x, y, cov):
        if cov > 0.0 and cov > self.get((x, y), 0.0):
            self[(x, y)] = min(cov, 1.0)

    def segment(self, ax, ay, bx, by, radius, clip=None):
        """A stroke with round caps, centre line from (ax, ay) to (bx, by)."""
        x0 = int(math.floor(min(ax, bx) - radius - 1))
        x1 = int(math.ceil(max(ax, bx) + radius + 1))
        y0 = int(math.floor(min(ay, by) - radius - 1))
        y1 = int(math.ceil(max(ay, by) + radius + 1))
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if clip and not (clip[0] <= x < clip[2] and clip[1] <= y < clip[3]):
                    continue
                px, py = x + 0.5, y + 0.5
                t = 0.0 if length2 == 0 else clamp01(((px - ax) * dx + (py - ay) * dy) / length2)
                d = math.hypot(px - (ax + t * dx), py - (ay + t * dy))
                self.put(x, y, clamp01(radius + 0.5 - d))

    def polyline(self, points, radius, clip=None):
        if len(points) == 1:
            points = points * 2
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            self.segment(ax, ay, bx, by, radius, clip)

    def disc(self, cx, cy, radius):
        for y in range(int(cy - radius - 2), int(cy + radius + 3)):
            for x in range(int(cx - radius - 2), int(cx + radius + 3)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                self.put(x, y, clamp01(radius + 0.5 - d))

    def ring(self, cx, cy, radius, width, start=None, end=None):
        """A circle outline; with start/end (degrees, y down) only that arc, round ends."""
        if start is not None:
            steps = max(8, int(abs(end - start) * radius / 40))
            pts = [(cx + radius * math.cos(math.radians(start + (end - start) * k / steps)),
                    cy + radius * math.sin(math.radians(start + (end - start) * k / steps)))
                   for k in range(steps + 1)]
            self.polyline(pts, width / 2.0)
            return
        outer = radius + width / 2.0
        for y in range(int(cy - outer - 2), int(cy + outer + 3)):
            for x in range(int(cx - outer - 2), int(cx + outer + 3)):
                d = abs(math.hypot(x + 0.5 - cx, y + 0.5 - cy) - radius)
                self.put(x, y, clamp01(width / 2.0 + 0.5 - d))

    def polygon(self, points, clip=None):
        """Filled polygon (even-odd rule), 4 x 4 samples per pixel."""
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        edges = list(zip(points, points[1:] + points[:1]))
        for y in range(int(math.floor(min(ys))), int(math.ceil(max(ys))) + 1):
            for x in range(int(math.floor(min(xs))), int(math.ceil(max(xs))) + 1):
                if clip and not (clip[0] <= x < clip[2] and clip[1] <= y < clip[3]):
                    continue
                hits = 0
                for sy in range(4):
                    py = y + (sy + 0.5) / 4
                    crossings = []
                    for (ax, ay), (bx, by) in edges:
                        if (ay <= py < by) or (by <= py < ay):
                            crossings.append(ax + (py - ay) * (bx - ax) / (by - ay))
                    for sx in range(4):
                        px = x + (sx + 0.5) / 4
                        if sum(1 for c in crossings if c < px) % 2:
                            hits += 1
                self.put(x, y, hits / 16.0)

    def rect(self, x0, y0, x1, y1):
        self.polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)])


# --- stroke font --------------------------------------------------------------
# Capitals and digits on a grid 10 units high (y grows downwards), each glyph
# a list of strokes, each stroke a list of points.


def arc(cx, cy, rx, ry, a0, a1, steps=18):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * k / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * k / steps)))
            for k in range(steps + 1)]


GLYPHS = {
    "A": (6, [[(0, 10), (3, 0), (6, 10)], [(1.1, 6.6), (4.9, 6.6)]]),
    "B": (5.6, [[(0, 0), (0, 10)],
                [(0, 0), (2.8, 0)] + arc(2.8, 2.5, 2.4, 2.5, -90, 90) + [(0, 5)],
                [(0, 5), (3.1, 5)] + arc(3.1, 7.5, 2.5, 2.5, -90, 90) + [(0, 10)]]),
    "C": (6.2, [arc(3.4, 5, 3.4, 5, -42, -318, 24)]),
    "D": (6.2, [[(0, 0), (0, 10)], [(0, 0), (1.6, 0)] + arc(1.6, 5, 4.6, 5, -90, 90, 24) + [(0, 10)]]),
    "E": (5, [[(5, 0), (0, 0), (0, 10), (5, 10)], [(0, 5), (4.2, 5)]]),
    "F": (5, [[(5, 0), (0, 0), (0, 10)], [(0, 5), (4.2, 5)]]),
    "G": (6.4, [arc(3.4, 5, 3.4, 5, -42, -360, 26) + [(6.8, 10)], [(6.8, 5.4), (3.8, 5.4)]]),
    "H": (6, [[(0, 0), (0, 10)], [(6, 0), (6, 10)], [(0, 5), (6, 5)]]),
    "I": (0, [[(0, 0), (0, 10)]]),
    "J": (4.2, [[(4.2, 0), (4.2, 7.6)] + arc(2.1, 7.6, 2.1, 2.4, 0, 180, 12)]),
    "K": (5.4, [[(0, 0), (0, 10)], [(5.4, 0), (0, 6.2)], [(1.8, 4.3), (5.6, 10)]]),
    "L": (4.8, [[(0, 0), (0, 10), (4.8, 10)]]),
    "M": (7.4, [[(0, 10), (0, 0), (3.7, 7.2), (7.4, 0), (7.4, 10)]]),
    "N": (6, [[(0, 10), (0, 0), (6, 10), (6, 0)]]),
    "O": (6.8, [arc(3.4, 5, 3.4, 5, 0, 360, 32)]),
    "P": (5.4, [[(0, 10), (0, 0), (2.6, 0)] + arc(2.6, 2.8, 2.8, 2.8, -90, 90) + [(0, 5.6)]]),
    "Q": (6.8, [arc(3.4, 5, 3.4, 5, 0, 360, 32), [(4.2, 7.4), (6.9, 10.4)]]),
    "R": (5.6, [[(0, 10), (0, 0), (2.6, 0)] + arc(2.6, 2.8, 2.8, 2.8, -90, 90) + [(0, 5.6)],
                [(2.6, 5.6), (5.6, 10)]]),
    "S": (5.8, [arc(2.9, 2.5, 2.8, 2.5, -25, -270, 16) + arc(2.9, 7.5, 2.9, 2.5, -90, 155, 18)]),
    "T": (6, [[(0, 0), (6, 0)], [(3, 0), (3, 10)]]),
    "U": (6, [[(0, 0), (0, 7)] + arc(3, 7, 3, 3, 180, 0, 16) + [(6, 0)]]),
    "V": (6.4, [[(0, 0), (3.2, 10), (6.4, 0)]]),
    "W": (8.6, [[(0, 0), (2.1, 10), (4.3, 2.6), (6.5, 10), (8.6, 0)]]),
    "X": (6, [[(0, 0), (6, 10)], [(6, 0), (0, 10)]]),
    "Y": (6, [[(0, 0), (3, 5.2), (6, 0)], [(3, 5.2), (3, 10)]]),
    "Z": (6, [[(0, 0), (6, 0), (0, 10), (6, 10)]]),
    "0": (6, [arc(3, 5, 3, 5, 0, 360, 32)]),
    "1": (3, [[(0, 2), (3, 0), (3, 10)]]),
    "2": (6, [arc(3, 3, 3, 3, -165, 25, 16) + [(0, 10), (6, 10)]]),
    "3": (5.8, [arc(2.9, 2.6, 2.7, 2.5, -160, 90, 16) + arc(2.9, 7.5, 2.9, 2.5, -90, 160, 16)]),
    "4": (6.4, [[(4.6, 10), (4.6, 0), (0, 7), (6.4, 7)]]),
    "5": (6, [[(5.6, 0), (0.8, 0), (0.4, 4.7)] + arc(3, 7, 3, 3, -130, 150, 20)]),
    "6": (6, [arc(3.2, 5, 3.2, 5, -62, -180, 10) + [(0, 7)], arc(3, 7, 3, 3, 0, 360, 24)]),
    "7": (6, [[(0, 0), (6, 0), (2, 10)]]),
    "8": (6, [arc(3, 2.6, 2.6, 2.6, 0, 360, 24), arc(3, 7.3, 3, 2.7, 0, 360, 24)]),
    "9": (6, [arc(3, 3, 3, 3, 0, 360, 24), [(6, 3), (6, 5)] + arc(2.8, 5, 3.2, 5, 0, 118, 10)]),
    ".": (0, [[(0, 10)]]),
    "-": (3.6, [[(0, 5.6), (3.6, 5.6)]]),
    " ": (2.6, []),
}


def text_width(text, cap, tracking=2.2):
    scale = cap / 10.0
    widths = [GLYPHS[ch][0] for ch in text]
    return (sum(widths) + tracking * (len(text) - 1)) * scale


def draw_text(mask, text, x, y, cap, stroke, tracking=2.2):
    """Writes text with its cap line at y and its left edge at x (pixels)."""
    scale = cap / 10.0
    for ch in text:
        width, strokes = GLYPHS[ch]
        for stroke_points in strokes:
            mask.polyline([(x + px * scale, y + py * scale) for px, py in stroke_points], stroke / 2.0)
        x += (width + tracking) * scale


def draw_text_centered(mask, text, cx, y, cap, stroke, tracking=2.2):
    draw_text(mask, text, cx - text_width(text, cap, tracking) / 2.0, y, cap, stroke, tracking)


# --- file writers ---------------------------------------------------------------


def png_bytes(canvas, with_alpha):
    raw = b"".join(b"\x00" + row for row in canvas.rows(with_alpha))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6 if with_alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_bytes(canvas):
    """An icon file with one 32-bit image (BGRA rows bottom-up, then the AND mask)."""
    w, h = canvas.width, canvas.height
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    for y in reversed(range(h)):
        bits = bytearray(mask_stride)
        for x in range(w):
            i = y * w + x
            a = round(clamp01(canvas.a[i]) * 255)
            pixels += bytes((round(clamp01(canvas.b[i]) * 255), round(clamp01(canvas.g[i]) * 255),
                             round(clamp01(canvas.r[i]) * 255), a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    dib = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = dib + bytes(pixels) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def write_file(relative, data):
    path = os.path.join(DEMO_DIR, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print(f"{relative}: {len(data)} bytes")


# --- the pictures -----------------------------------------------------------------

ACCENT_LIGHT = hex_color("#DE8C33")
ACCENT_DARK = hex_color("#AC671C")
WHITE = (1.0, 1.0, 1.0)


def play_logo(canvas, cx, cy, radius, disc_color, mark_color):
    disc = Mask()
    disc.disc(cx, cy, radius)
    canvas.paint(disc, disc_color)
    mark = Mask()
    r = radius * 0.52
    mark.polygon([(cx - r * 0.55, cy - r), (cx + r, cy), (cx - r * 0.55, cy + r)])
    canvas.paint(mark, mark_color)


def header(dark):
    c = Canvas(640, 53)
    if dark:
        c.gradient(hex_color("#343130"), hex_color("#2A2A2A"), vertical=False, box=(0, 0, 640, 53))
        accent, name_color, wave_color = ACCENT_DARK, hex_color("#F0F0F0"), ACCENT_DARK
    else:
        c.gradient(hex_color("#FFF1E1"), WHITE, vertical=False, box=(0, 0, 640, 53))
        accent, name_color, wave_color = ACCENT_LIGHT, hex_color("#8A4D12"), ACCENT_LIGHT
    # sound waves fading out to the right of the logo
    for k, radius in enumerate((22, 31, 40)):
        waves = Mask()
        waves.ring(27, 26, radius, 1.6, -38, 38)
        c.paint(waves, wave_color, 0.55 - 0.15 * k)
    play_logo(c, 27, 26, 15, accent, hex_color("#2A2A2A") if dark else WHITE)
    name = Mask()
    draw_text(name, "ORVI", 80, 17, 19, 3.0)
    c.paint(name, name_color)
    return c


def side_picture(dark):
    c = Canvas(188, 435)
    if dark:
        top, bottom = hex_color("#3B2C1F"), hex_color("#1C1A18")
        ring_color, disc_color, mark_color = ACCENT_DARK, ACCENT_DARK, hex_color("#1F1D1B")
        text_color, sub_color = hex_color("#F0F0F0"), hex_color("#C8B8A8")
    else:
        top, bottom = hex_color("#F4A851"), hex_color("#C2621A")
        ring_color, disc_color, mark_color = WHITE, WHITE, ACCENT_LIGHT
        text_color, sub_color = WHITE, hex_color("#FFE7CC")
    c.gradient(top, bottom)
    # a soft glow behind the logo
    glow = Mask()
    glow.disc(94, 160, 100)
    c.paint(glow, WHITE if not dark else ACCENT_DARK, 0.10)
    for k, radius in enumerate((50, 68, 86, 104)):
        rings = Mask()
        rings.ring(94, 160, radius, 3.0 - 0.5 * k)
        c.paint(rings, ring_color, 0.45 - 0.09 * k)
    play_logo(c, 94, 160, 36, disc_color, mark_color)
    title = Mask()
    draw_text_centered(title, "ORVI", 94, 290, 36, 5.2)
    c.paint(title, text_color)
    subtitle = Mask()
    draw_text_centered(subtitle, "MEDIA PLAYER", 94, 340, 10, 1.7, tracking=3.2)
    c.paint(subtitle, sub_color)
    version = Mask()
    draw_text_centered(version, "VERSION 5.30", 94, 402, 8, 1.4, tracking=3.0)
    c.paint(version, sub_color, 0.85)
    return c


def addon_picture():
    c = Canvas(220, 90)
    c.gradient(hex_color("#2F8FA8"), hex_color("#1D5A72"), vertical=False)
    shine = Mask()
    shine.disc(40, 20, 70)
    c.paint(shine, WHITE, 0.08)
    # a price-tag shape with its hole
    tag = Mask()
    tag.polygon([(16, 45), (34, 24), (66, 24), (66, 66), (34, 66)])
    c.paint(tag, WHITE)
    hole = Mask()
    hole.disc(31, 45, 4.2)
    c.paint(hole, hex_color("#2A7891"))
    note = Mask()
    note.polyline([(50, 56), (50, 33), (59, 30)], 1.5)
    note.disc(46.5, 56.5, 3.6)
    c.paint(note, hex_color("#1D5A72"))
    title = Mask()
    draw_text(title, "TAG STUDIO", 80, 30, 13, 2.1, tracking=2.4)
    c.paint(title, WHITE)
    sub = Mask()
    draw_text(sub, "FOR ORVI", 81, 53, 8, 1.3, tracking=3.0)
    c.paint(sub, hex_color("#CFEAF2"))
    return c


def player_icon(kind):
    c = Canvas(48, 48)
    base = Mask()
    base.polygon([(6, 2), (42, 2), (46, 6), (46, 42), (42, 46), (6, 46), (2, 42), (2, 6)])
    shade = lambda x, y: mix(hex_color("#F2A24C"), hex_color("#C8671D"), y / 47.0)
    c.paint(base, None, shade=shade)
    mark = Mask()
    if kind == "orvi":
        mark.polygon([(17, 12), (37, 24), (17, 36)])
    elif kind == "audio":
        mark.polyline([(20, 34), (20, 12), (33, 9), (33, 30)], 1.8)
        mark.disc(16.5, 34.5, 4.5)
        mark.disc(29.5, 30.5, 4.5)
    elif kind == "video":
        mark.polygon([(9, 14), (31, 14), (31, 34), (9, 34)])
        mark.polygon([(33, 24), (41, 16), (41, 32)])
    elif kind == "playlist":
        for k, y in enumerate((14, 22, 30)):
            mark.segment(11, y, 28 if k < 2 else 22, y, 1.7)
        mark.polygon([(28, 27), (39, 33.5), (28, 40)])
    c.paint(mark, WHITE)
    return c


# --- language flags --------------------------------------------------------------


def flag(stripes=None, union_jack=False):
    c = Canvas(16, 16)
    box = (0, 2, 16, 14)
    if union_jack:
        blue, red = hex_color("#1F3A93"), hex_color("#CF142B")
        area = Mask()
        area.rect(*box)
        c.paint(area, blue)
        for width, color in ((3.0, WHITE), (1.1, red)):
            diagonals = Mask()
            diagonals.segment(-2, 1, 18, 15, width / 2, clip=box)
            diagonals.segment(-2, 15, 18, 1, width / 2, clip=box)
            c.paint(diagonals, color)
        for width, color in ((4.2, WHITE), (2.2, red)):
            cross = Mask()
            cross.segment(8, 0, 8, 16, width / 2, clip=box)
            cross.segment(-2, 8, 18, 8, width / 2, clip=box)
            c.paint(cross, color)
    else:
        for k, color in enumerate(stripes):
            band = Mask()
            band.rect(0, 2 + 4 * k, 16, 6 + 4 * k)
            c.paint(band, hex_color(color))
    # a thin frame so that light stripes stay visible on a light list
    frame = Mask()
    for x0, y0, x1, y1 in ((0, 2, 16, 2.5), (0, 13.5, 16, 14), (0, 2, 0.5, 14), (15.5, 2, 16, 14)):
        frame.rect(x0, y0, x1, y1)
    c.paint(frame, hex_color("#000000"), 0.35)
    return c


FLAGS = {
    "English.lng": lambda: flag(union_jack=True),
    "Russian.lng": lambda: flag(["#FFFFFF", "#0039A6", "#D52B1E"]),
    "Deutsch.lng": lambda: flag(["#000000", "#DD0000", "#FFCE00"]),
}


def set_language_icon(name, icon):
    """Rewrites the value of the first "Icon=" line, keeping the file's encoding and line ends."""
    path = os.path.join(DEMO_DIR, "setup", name)
    with open(path, "rb") as f:
        data = f.read()
    for bom, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")):
        if data.startswith(bom):
            break
    else:
        bom, codec = b"", "utf-8"
    text = data[len(bom):].decode(codec)
    lines = text.splitlines(keepends=True)
    for i, line in enumerate(lines):
        if line.startswith("Icon="):
            ending = line[len(line.rstrip("\r\n")):]
            lines[i] = "Icon=" + icon.hex() + ending
            break
    else:
        sys.exit(f"{name}: no Icon= line")
    with open(path, "wb") as f:
        f.write(bom + "".join(lines).encode(codec))
    print(f"setup/{name}: icon of {len(icon)} bytes")


def main():
    write_file("setup/header.png", png_bytes(header(False), False))
    write_file("setup/header_dark.png", png_bytes(header(True), False))
    write_file("setup/wizard_light.png", png_bytes(side_picture(False), False))
    write_file("setup/wizard_dark.png", png_bytes(side_picture(True), False))
    write_file("setup/addon_tagstudio.png", png_bytes(addon_picture(), False))
    for kind in ("orvi", "audio", "video", "playlist"):
        write_file(f"payload/files/{kind}.png", png_bytes(player_icon(kind), True))
    for name, make in FLAGS.items():
        if os.path.exists(os.path.join(DEMO_DIR, "setup", name)):
            set_language_icon(name, ico_bytes(make()))


if __name__ == "__main__":
    main()
