#!/usr/bin/env python3
"""Draws the program's icons as PNG files for Qt and ICO files for the Windows resources (no
imaging library needed).

app.png/.ico        (128) 32 x 32: a transmitter box linked to two receiver boxes on a blue tile.
ball_red.png/.ico   (129) 16 x 16: a shaded red ball.
ball_green.png/.ico (130) 16 x 16: a shaded green ball.

Run from anywhere: python3 res/make_icons.py
"""
import math
import struct
import zlib
from pathlib import Path

SUPERSAMPLE = 4


def render(size, pixel):
    """Rows of (r, g, b, a) bytes, top row first; pixel(x, y) -> (r, g, b, a) in 0..1 for a point
    in pixel coordinates, supersampled."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    r, g, b, a = pixel(x + (sx + 0.5) / SUPERSAMPLE, y + (sy + 0.5) / SUPERSAMPLE)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUPERSAMPLE * SUPERSAMPLE
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [min(255, round(c / acc[3] * 255)) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row.append((*rgb, round(alpha * 255)))
        rows.append(row)
    return rows


def write_png(path, rows):
    size = len(rows)
    lines = [bytes([0]) + bytes(c for px in row for c in px) for row in rows]  # filter: none

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
    png += chunk(b'IDAT', zlib.compress(b''.join(lines), 9)) + chunk(b'IEND', b'')
    Path(path).write_bytes(png)


def write_ico(path, rows):
    """One 32-bit image with its alpha, and the AND mask that older readers use."""
    size = len(rows)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    directory += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 6 + 16)
    Path(path).write_bytes(directory + image)


def ball(base):
    def pixel(x, y):
        cx = cy = 8.0
        radius = 6.6
        d = math.hypot(x - cx, y - cy)
        if d > radius:
            return (0, 0, 0, 0)
        # Light from the upper left: a soft gradient plus a small highlight.
        shade = 0.55 + 0.45 * (1 - d / radius)
        hx, hy = x - (cx - 2.2), y - (cy - 2.4)
        highlight = max(0.0, 1 - math.hypot(hx, hy) / 2.6) ** 1.5
        rim = 1.0 if d < radius - 0.9 else 0.6
        rgb = [min(1.0, c * shade * rim + highlight * 0.85) for c in base]
        return (*rgb, 1.0)
    return pixel


def inside_round_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return math.hypot(x - cx, y - cy) <= radius


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def app_icon(x, y):
    white = (1.0, 1.0, 1.0, 1.0)
    boxes = [(3.5, 12.5, 12.5, 19.5), (20.5, 5.5, 28.5, 11.5), (20.5, 20.5, 28.5, 26.5)]
    for left, top, right, bottom in boxes:
        if inside_round_rect(x, y, left, top, right, bottom, 1.2):
            return white
    links = [(12.5, 16.0, 20.5, 8.5), (12.5, 16.0, 20.5, 23.5)]
    if any(segment_distance(x, y, *link) <= 0.9 for link in links):
        return white
    if inside_round_rect(x, y, 0.5, 0.5, 31.5, 31.5, 5.0):
        t = y / 32.0  # darker towards the bottom
        return (0.10, 0.36 - 0.12 * t, 0.72 - 0.22 * t, 1.0)
    return (0, 0, 0, 0)


if __name__ == '__main__':
    icons = Path(__file__).resolve().parent / 'icons'
    icons.mkdir(exist_ok=True)
    for name, size, pixel in [('app', 32, app_icon), ('ball_red', 16, ball((0.86, 0.10, 0.08))),
                              ('ball_green', 16, ball((0.10, 0.70, 0.16)))]:
        rows = render(size, pixel)
        write_png(icons / f'{name}.png', rows)
        write_ico(icons / f'{name}.ico', rows)
