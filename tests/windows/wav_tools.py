#!/usr/bin/env python3
"""Test audio for the Windows suite, standard library only.

make OUT.wav          a 2-second stereo 32-bit float WAV at 48 kHz: sines,
                      a sweep and noise at levels that drive the saturator
compare A.wav B.wav   sample-by-sample comparison of two float WAV files;
                      prints the count of differing samples and the largest
                      difference in units in the last place, exit 1 unless equal
"""
import math
import random
import struct
import sys


def write_float_wav(path, rate, frames):
    data = b"".join(struct.pack("<ff", l, r) for l, r in frames)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, 2, rate, rate * 8, 8, 32)
    header += b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


def read_float_wav(path):
    with open(path, "rb") as f:
        b = f.read()
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(b):
        tag, size = b[pos:pos + 4], struct.unpack("<I", b[pos + 4:pos + 8])[0]
        body = b[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
        elif tag == b"data":
            data = body
        pos += 8 + size + (size & 1)
    if fmt is None or data is None or fmt[0] not in (3, 0xFFFE) or fmt[5] != 32:
        raise SystemExit(f"{path}: not a 32-bit float WAV ({fmt})")
    return fmt, data


def make(path):
    rate, n = 48000, 96000
    rnd = random.Random(23)
    frames = []
    for i in range(n):
        t = i / rate
        sweep = math.sin(2 * math.pi * (20 * t + 2000 * t * t))
        l = 0.8 * math.sin(2 * math.pi * 220 * t) + 0.3 * sweep
        r = 1.5 * math.sin(2 * math.pi * 997 * t) + 0.1 * (rnd.random() - 0.5)
        frames.append((l, r))
    write_float_wav(path, rate, frames)


def compare(a, b):
    fa, da = read_float_wav(a)
    fb, db = read_float_wav(b)
    if fa[1:3] != fb[1:3] or len(da) != len(db):
        print(f"different shapes: {fa} {len(da)} bytes, {fb} {len(db)} bytes")
        return 1
    ia = struct.unpack(f"<{len(da) // 4}i", da)
    ib = struct.unpack(f"<{len(db) // 4}i", db)
    differing = sum(1 for x, y in zip(ia, ib) if x != y)
    ulps = max((abs(x - y) for x, y in zip(ia, ib)), default=0)
    print(f"{len(ia)} samples, {differing} differ, largest difference {ulps} ulp")
    return 0 if differing == 0 else 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3]))
    else:
        print(__doc__)
        sys.exit(2)
