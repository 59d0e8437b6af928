#!/usr/bin/python3
"""Rewrites 8-bit PNGs so that they decode at memory speed: every row unfiltered
(filter type 0) and the image data in stored (uncompressed) deflate blocks of
whole rows, which the plug-in reads where they lie.

    python3 resources/png_stored.py 101.png 102.png

The pixels, the palette and the transparency stay as they are; only the IDAT
chunks change. The editor decodes its images when it first opens, and for
the 80 x 7760 knob filmstrip inflating and unfiltering the compressed rows
took most of that time; stored, its 620 KB of palette indices cost little
more than a copy, for about 0.6 MB more in the plug-in's binary.
"""

import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunks(data):
    if data[:8] != SIGNATURE:
        raise ValueError("not a PNG file")
    pos = 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfiltered_rows(raw, width, height, bpp):
    stride = width * bpp
    prev = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind, row = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + a) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + b) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + ((a + b) >> 1)) & 0xFF
            elif kind == 4:
                row[i] = (row[i] + paeth(a, b, c)) & 0xFF
            elif kind != 0:
                raise ValueError("unknown filter type %d" % kind)
        yield bytes(row)
        prev = row


def stored_blocks(rows):
    """A zlib stream of stored blocks that each hold whole rows, so that a
    reader can take every row where it lies in the file."""
    per_block = max(1, 65535 // len(rows[0]))
    out = [b"\x78\x01"]
    for first in range(0, len(rows), per_block):
        body = b"".join(rows[first:first + per_block])
        final = 1 if first + per_block >= len(rows) else 0
        out.append(struct.pack("<BHH", final, len(body), len(body) ^ 0xFFFF) + body)
    out.append(struct.pack(">I", zlib.adler32(b"".join(rows))))
    return b"".join(out)


def store(path):
    data = open(path, "rb").read()
    parts = list(chunks(data))
    header = dict(parts)[b"IHDR"]
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", header)
    if depth != 8 or interlace != 0 or colour not in CHANNELS:
        raise ValueError("%s: only 8-bit, non-interlaced images" % path)
    raw = zlib.decompress(b"".join(body for kind, body in parts if kind == b"IDAT"))
    rows = [b"\x00" + row for row in unfiltered_rows(raw, width, height, CHANNELS[colour])]
    stored = stored_blocks(rows)
    out = [SIGNATURE]
    for kind, body in parts:
        if kind == b"IDAT":
            if stored is not None:
                out.append(chunk(b"IDAT", stored))
                stored = None
        else:
            out.append(chunk(kind, body))
    open(path, "wb").write(b"".join(out))


if __name__ == "__main__":
    for name in sys.argv[1:]:
        store(name)
