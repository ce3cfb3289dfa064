#!/usr/bin/env python3
"""Draws Moravel's two icon groups and writes them as 16-colour .ico files.

Group 128 (moravel.ico), the application icon: a clock face whose hands are
set by a time code, with a frame tick.  Group 129 (picture.ico), the picture
beside TEST/RUN and in the About box: the reader box with its LED and a time
code readout.  Each file holds a 32 by 32 and a 16 by 16 image, 4 bits per
pixel, with a transparency mask.  The application icon is also written as
PNG files of 16, 32 and 48 pixels for the Linux desktop's icon theme.  Run
it again after changing a picture; all these files are kept in the
repository.
"""
import struct
import sys
import zlib

# The standard 16-colour palette, by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_BLUE, GREY, DARK_GREY = 0, 1, 4, 7, 8
RED, GREEN, YELLOW, BLUE, WHITE = 9, 10, 11, 12, 15
CLEAR = None


def canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def disc(image, cx2, cy2, r2, colour):
    """Fills a disc; centre and radius in half pixels, integers only."""
    size = len(image)
    for y in range(size):
        for x in range(size):
            dx, dy = 2 * x + 1 - cx2, 2 * y + 1 - cy2
            if dx * dx + dy * dy <= r2 * r2:
                image[y][x] = colour


def line(image, x0, y0, x1, y1, colour):
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    while True:
        image[y0][x0] = colour
        if x0 == x1 and y0 == y1:
            return
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def rect(image, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            image[y][x] = colour


def clock_face(size):
    image = canvas(size)
    s = size // 16
    disc(image, size, size, size - 1, DARK_BLUE)
    disc(image, size, size, size - 1 - 2 * s, WHITE)
    c = size // 2
    for (x, y) in ((c, s + 1), (c, size - 2 - s), (s + 1, c), (size - 2 - s, c)):
        image[y][x] = BLACK
    line(image, c, c, c, 3 * s + 1, BLACK)          # minutes at twelve
    line(image, c, c, c + 5 * s, c + 2 * s, DARK_RED)  # hours near four
    rect(image, c - s // 2, c - s // 2, c + s // 2, c + s // 2, RED)
    return image


def reader_box(size):
    image = canvas(size)
    s = size // 16
    rect(image, 0, 3 * s, size - 1, size - 3 * s - 1, DARK_GREY)
    rect(image, s, 4 * s, size - 1 - s, size - 4 * s - 1, GREY)
    rect(image, 2 * s, 6 * s, size - 6 * s, size - 6 * s - 1, BLACK)
    for x in range(3 * s, size - 6 * s, 2 * s if s > 1 else 2):
        rect(image, x, 7 * s, x + max(s - 1, 0), size - 7 * s - 1, GREEN)
    rect(image, size - 4 * s, 7 * s, size - 3 * s - 1 + (s == 1), 8 * s - 1 + (s == 1), RED)
    rect(image, size - 4 * s, 10 * s, size - 3 * s - 1 + (s == 1), 11 * s - 1 + (s == 1), YELLOW)
    return image


def bitmap(image):
    size = len(image)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0, 0, 0, 0,
                         16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    pixels = b''
    mask = b''
    mask_row_bytes = ((size + 31) // 32) * 4
    for row in reversed(image):
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            pixels += bytes([(hi << 4) | lo])
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(size // 8, 'big').ljust(mask_row_bytes, b'\0')
    return header + palette + pixels + mask


def write_icon(path, images):
    blobs = [bitmap(image) for image in images]
    data = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for image, blob in zip(images, blobs):
        size = len(image)
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(blob),
                            offset)
        offset += len(blob)
    for blob in blobs:
        data += blob
    with open(path, 'wb') as out:
        out.write(data)


def png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data +
            struct.pack('>I', zlib.crc32(kind + data)))


def write_png(path, image):
    """8-bit RGBA, clear pixels fully transparent; no time stamp, so the
    file depends on the picture only."""
    size = len(image)
    rows = b''
    for row in image:
        rows += b'\0'
        for index in row:
            if index is None:
                rows += bytes(4)
            else:
                rows += bytes(PALETTE[index]) + b'\xff'
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', header) +
                  png_chunk(b'IDAT', zlib.compress(rows, 9)) +
                  png_chunk(b'IEND', b''))


def main(folder):
    write_icon(folder + '/moravel.ico', [clock_face(32), clock_face(16)])
    for size in (16, 32, 48):
        write_png('%s/moravel-%d.png' % (folder, size), clock_face(size))
    write_icon(folder + '/picture.ico', [reader_box(32), reader_box(16)])


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else '.')
