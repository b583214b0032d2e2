#!/usr/bin/env python3
"""Writes a Windows .ico from the program's PNG icons (ui/icons), so that the executables
carry the same artwork as the Linux window. Standard library only.

Usage: make-icon.py OUTPUT.ico ICON.png...

Small sizes become 32-bit bitmaps, which every part of Windows draws; 256 px stays a PNG,
as Windows expects for that size. The sources may have 8 or 16 bits per channel."""
import struct
import sys
import zlib


def read_png(path):
    """Returns (width, height, rows of RGBA bytes, 8 bits per channel)."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"make-icon: {path} is not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if colour != 6 or depth not in (8, 16) or interlace:
        sys.exit(f"make-icon: {path} must be non-interlaced RGBA with 8 or 16 bits per channel")
    pixel = 4 * depth // 8
    stride = width * pixel
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = line[x - pixel] if x >= pixel else 0
            up = previous[x]
            corner = previous[x - pixel] if x >= pixel else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                estimate = left + up - corner
                pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
                nearest = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[x] = (line[x] + nearest) & 0xFF
        previous = line
        # The high byte of a 16-bit sample is its 8-bit value.
        rows.append(bytes(line[::2]) if depth == 16 else bytes(line))
    return width, height, rows


def png_bytes(width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    scanlines = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(scanlines, 9)) + chunk(b"IEND", b""))


def bitmap_bytes(width, height, rows):
    # A 32-bit DIB, bottom-up, BGRA, twice the height for the (unused, all-zero) AND mask.
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(
        bytes(b for i in range(0, len(row), 4) for b in (row[i + 2], row[i + 1], row[i], row[i + 3]))
        for row in reversed(rows))
    mask_stride = ((width + 31) // 32) * 4
    return header + pixels + bytes(mask_stride * height)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    images = []
    for path in sys.argv[2:]:
        width, height, rows = read_png(path)
        encode = png_bytes if width >= 256 else bitmap_bytes
        images.append((width, height, encode(width, height, rows)))
    images.sort()
    offset = 6 + 16 * len(images)
    directory, blobs = b"", b""
    for width, height, blob in images:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(blob),
                                 offset + len(blobs))
        blobs += blob
    with open(sys.argv[1], "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + directory + blobs)


if __name__ == "__main__":
    main()
