#!/usr/bin/python3
# Draws the base-field icons of the certificate viewer as 32x32 PNG files:
#   manager/certview/image/draw_icons.py
# Plain shapes, four samples a pixel along each axis for smooth edges.
import math, struct, zlib, os

N, S = 32, 4

def png(path, pixels):
    raw = b''.join(b'\0' + bytes(c for p in row for c in p) for row in pixels)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', N, N, 8, 6, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

def render(layers):
    """layers: list of (colour, inside(x, y)) painted in order."""
    rows = []
    for py in range(N):
        row = []
        for px in range(N):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(S):
                for sx in range(S):
                    x, y = px + (sx + 0.5) / S, py + (sy + 0.5) / S
                    c = None
                    for colour, inside in layers:
                        if inside(x, y):
                            c = colour
                    if c:
                        for i in range(3):
                            acc[i] += c[i]
                        acc[3] += 255
            n = S * S
            a = acc[3] / n
            row.append(tuple(int(acc[i] / (acc[3] / 255) if acc[3] else 0) for i in range(3)) + (int(a),))
        rows.append(row)
    return rows

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r

def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1

def segment(ax, ay, bx, by, w):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0, min(1, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= w / 2
    return inside

GREY, PAPER, INK, BLUE = (90, 96, 110), (250, 250, 246), (150, 156, 170), (44, 98, 170)
GREEN, WHITE, GOLD, DARKGOLD = (46, 140, 70), (255, 255, 255), (214, 170, 60), (150, 110, 30)

icons = {
    'cert_small': [
        (GREY, rect(5, 3, 27, 29)), (PAPER, rect(6, 4, 26, 28)),
        (INK, rect(9, 8, 23, 9)), (INK, rect(9, 12, 23, 13)), (INK, rect(9, 16, 18, 17)),
        (BLUE, segment(19, 22, 17, 29, 2.5)), (BLUE, segment(21, 22, 23, 29, 2.5)),
        (BLUE, circle(20, 21, 4.5)), (WHITE, ring(20, 21, 2.2, 2.8)),
    ],
    'person': [
        (BLUE, circle(16, 10, 6)),
        (BLUE, lambda x, y: y >= 18 and y <= 29 and (x - 16) ** 2 / 121 + (y - 29) ** 2 / 121 <= 1),
    ],
    'ok': [
        (GREEN, circle(16, 16, 13)),
        (WHITE, segment(9, 16.5, 14, 21.5, 3.2)), (WHITE, segment(14, 21.5, 23, 11, 3.2)),
    ],
    'key': [
        (DARKGOLD, circle(10, 16, 7)), (GOLD, circle(10, 16, 5.5)), (DARKGOLD, circle(9, 16, 2)),
        (DARKGOLD, rect(15, 14.5, 29, 17.5)), (DARKGOLD, rect(23, 17, 25, 21)),
        (DARKGOLD, rect(27, 17, 29, 22)),
    ],
}

here = os.path.dirname(os.path.abspath(__file__))
for name, layers in icons.items():
    png(os.path.join(here, name + '.png'), render(layers))
