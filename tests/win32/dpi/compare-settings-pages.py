#!/usr/bin/env python3
"""Compares screenshots of the settings page at 144 and 192 DPI with the one
at 96 DPI: each must be the 96-DPI page scaled by its DPI. A page left at the
design's size, clipped, or laid out wrongly fails on its size or on the
similarity of the two at the 96-DPI page's size; a page stretched from 96 DPI
as a bitmap fails on its sharpness (the share of crisp edges).

    compare-settings-pages.py <96.png> <144.png> <192.png>
"""
import struct
import sys
import zlib


def read_png(path):
    """Width, height and RGB rows of an 8-bit RGB PNG (filter types 0 to 4)."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG file")
    at, width, height, idat = 8, 0, 0, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if (depth, colour) != (8, 2):
                raise ValueError(f"{path}: only 8-bit RGB is read")
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride if kind else 0):
            left = line[x - 3] if x >= 3 else 0
            up = previous[x]
            corner = previous[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + left) & 255
            elif kind == 2:
                line[x] = (line[x] + up) & 255
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[x] = (line[x] + predictor) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def luminance(image):
    width, height, rows = image
    return width, height, [[(row[3 * x] * 299 + row[3 * x + 1] * 587 + row[3 * x + 2] * 114) // 1000
                            for x in range(width)] for row in rows]


def shrink(grey, width, height):
    """Box average of a luminance image into width x height cells."""
    w, h, pixels = grey
    cells = []
    for cy in range(height):
        y0, y1 = cy * h // height, max(cy * h // height + 1, (cy + 1) * h // height)
        line = []
        for cx in range(width):
            x0, x1 = cx * w // width, max(cx * w // width + 1, (cx + 1) * w // width)
            total = sum(sum(pixels[y][x0:x1]) for y in range(y0, y1))
            line.append(total / ((y1 - y0) * (x1 - x0)))
        cells.append(line)
    return cells


def correlation(a, b):
    flat_a = [v for row in a for v in row]
    flat_b = [v for row in b for v in row]
    n = len(flat_a)
    mean_a, mean_b = sum(flat_a) / n, sum(flat_b) / n
    cov = sum((x - mean_a) * (y - mean_b) for x, y in zip(flat_a, flat_b))
    var_a = sum((x - mean_a) ** 2 for x in flat_a)
    var_b = sum((y - mean_b) ** 2 for y in flat_b)
    return cov / ((var_a * var_b) ** 0.5 or 1.0)


def crisp_edges(grey):
    """Neighbouring pixels (across and down) whose luminance jumps by more than 96."""
    w, h, pixels = grey
    count = 0
    for y in range(h - 1):
        row, below = pixels[y], pixels[y + 1]
        for x in range(w - 1):
            if abs(row[x] - row[x + 1]) > 96 or abs(row[x] - below[x]) > 96:
                count += 1
    return count


def main():
    base = luminance(read_png(sys.argv[1]))
    failures = []
    grid = (base[0] // 4, base[1] // 4)
    base_cells = shrink(base, *grid)
    base_edges = crisp_edges(base)
    print(f"96 DPI: {base[0]} x {base[1]}, {base_edges} crisp edge pixels")
    for path, scale in ((sys.argv[2], 1.5), (sys.argv[3], 2.0)):
        page = luminance(read_png(path))
        expected = (round(base[0] * scale), round(base[1] * scale))
        similar = correlation(base_cells, shrink(page, *grid))
        edges = crisp_edges(page)
        edge_ratio = edges / (base_edges * scale) if base_edges else 0.0
        print(f"{scale * 96:.0f} DPI: {page[0]} x {page[1]} (expected {expected[0]} x {expected[1]}), "
              f"similarity {similar:.3f}, crisp edges {edges} ({edge_ratio:.2f} of the scaled 96-DPI count)")
        if abs(page[0] - expected[0]) > 4 or abs(page[1] - expected[1]) > 4:
            failures.append(f"{path}: {page[0]} x {page[1]} is not the 96-DPI page scaled by {scale}")
        if similar < 0.90:
            failures.append(f"{path}: at the 96-DPI page's size it is not that page (similarity {similar:.3f})")
        if edge_ratio < 0.5:
            failures.append(f"{path}: blurred, as a stretched bitmap is ({edge_ratio:.2f} of the crisp edges)")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
