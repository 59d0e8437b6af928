"""What the suite's Python scripts share: failures, WAV and PNG files read
and written without third-party modules, and a private X server from kv23's
own launcher. The scripts add this folder to their path:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "..", "support"))
    from kv_test_support import Failure, check, read_wav
"""
import math
import os
import struct
import subprocess
import wave
import zlib


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def read_wav(path):
    """(rate, channels, list of channel lists) of a PCM-16 or float WAV."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:4] == b"RIFF" and data[8:12] == b"WAVE", path + " is not a WAV file")
    pos, fmt, body = 12, None, None
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack("<I", data[pos + 4:pos + 8])[0]
        chunk = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", chunk[:16])
            if fmt[0] == 0xFFFE:  # extensible: the real tag is in the sub-format
                fmt = (struct.unpack("<H", chunk[24:26])[0],) + fmt[1:]
        elif cid == b"data":
            body = chunk
        pos += 8 + size + (size & 1)
    check(fmt is not None and body is not None, path + " has no fmt or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag == 3 and bits == 32:
        samples = struct.unpack("<%df" % (len(body) // 4), body)
    elif tag == 1 and bits == 16:
        samples = [s / 32768.0 for s in struct.unpack("<%dh" % (len(body) // 2), body)]
    else:
        raise Failure("%s: unexpected sample format tag %d, %d bits" % (path, tag, bits))
    return rate, channels, [list(samples[c::channels]) for c in range(channels)]


def write_float_wav(path, rate, samples, channels=1):
    """A 32-bit float WAV of interleaved samples."""
    body = struct.pack("<%df" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 3, channels, rate, rate * 4 * channels, 4 * channels, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(body)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(body)) + body)


def write_stereo_test_wav(path, rate, frames):
    """Two tones, the right one with an offset: a float stereo WAV that drives
    both channels of a plug-in differently."""
    samples = []
    for i in range(frames):
        samples.append(0.8 * math.sin(2 * math.pi * 220 * i / rate))
        samples.append(0.5 * math.sin(2 * math.pi * 331 * i / rate) + 0.3)
    write_float_wav(path, rate, samples, channels=2)


def read_png(path):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b"") + data[pos + 8:pos + 8 + length]
        pos += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    check(depth == 8 and colour in (2, 6), "%s: not an 8-bit RGB(A) PNG" % path)
    size = 3 if colour == 2 else 4
    raw, stride, rows, prior = zlib.decompress(chunks[b"IDAT"]), width * size, [], bytearray(width * size)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - size] if i >= size else 0
            b, c = prior[i], prior[i - size] if i >= size else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * size:x * size + 3]) for x in range(width)])
        prior = line
    return width, height, rows


# kv23's own private-X-server launcher, built in tests/support of the build
# (KV_PRIVATE_X names another copy); the scripts run in a sibling folder.
PRIVATE_X = os.environ.get("KV_PRIVATE_X") or os.path.join(os.getcwd(), "..", "support",
                                                            "kv_private_x")


def start_xvfb(log):
    """A private X server (with X-Resource) and its display name."""
    server = subprocess.Popen([PRIVATE_X, "--screen", "1280x1024x24",
                               "--xvfb", "+extension", "--xvfb", "X-Resource"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    display = (server.stdout.readline().split() or [""])[0]
    if not display:
        raise SystemExit("no Xvfb could be started")
    return server, display


def write_input(path):
    """One second of a stereo 16-bit file: a tone left, another right."""
    import math
    frames = bytearray()
    for i in range(48000):
        for f in (220.0, 330.0):
            v = int(12000 * math.sin(2 * math.pi * f * i / 48000))
            frames += v.to_bytes(2, "little", signed=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(48000)
        w.writeframes(bytes(frames))


def wav_shape(path):
    """(channels, frames) of a WAV file of any sample format."""
    with open(path, "rb") as f:
        data = f.read()
    channels = frames = 0
    at = 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        if tag == b"fmt ":
            channels = int.from_bytes(data[at + 10:at + 12], "little")
            align = int.from_bytes(data[at + 20:at + 22], "little")
        elif tag == b"data":
            frames = size // align
        at += 8 + size + (size & 1)
    return channels, frames
