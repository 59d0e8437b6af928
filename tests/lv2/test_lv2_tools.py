#!/usr/bin/env python3
"""The LV2 bundle against Debian's LV2 tools.

  test_lv2_tools.py BUNDLE VST2_PLUGIN KV23

lv2_validate finds no error in the bundle's Turtle; lv2info lists the ports
with their ranges, defaults and switches, and the decibel ports carry their
unit; lv2apply renders through the LV2 binary exactly the samples that
`kv23 process` renders through the VST 2 build with the same settings (also
for a NaN and out-of-range settings, which both builds treat alike); and the
processing binary needs no window system, drawing or font library.

Exits 77 (skipped) when the LV2 tools are not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import Failure, check, read_wav, write_stereo_test_wav  # noqa: E402

SKIP = 77
URI = "urn:harrowquill:kv23-t-zudiz"
RATE = 48000
# (lv2apply controls, kv23 options): the same settings in each host's words.
RENDERS = [
    ([], []),
    ([("gain", "-3.5"), ("pad2", "1"), ("volume", "6")], ["--gain", "-3.5", "--pad2", "--volume", "6"]),
    ([("gain", "24"), ("pad1", "1"), ("volume", "-32")], ["--gain", "24", "--pad1", "--volume", "-32"]),
    ([("gain", "17.25"), ("pad1", "1"), ("pad2", "1"), ("volume", "-0.5")],
     ["--gain", "17.25", "--pad1", "--pad2", "--volume", "-0.5"]),
    # A NaN keeps the default; out of range clamps to the end of the range.
    ([("gain", "nan"), ("volume", "1000")], ["--volume", "32"]),
    ([("gain", "-1e30"), ("pad1", "0.75")], ["--gain", "-8", "--pad1"]),
]


def run(args, env=None):
    result = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
    return result.returncode, result.stdout + result.stderr


def test_validate(bundle):
    ttl = [os.path.join(bundle, n) for n in ("manifest.ttl", "KV23-T-ZuDiz.ttl")]
    code, text = run(["lv2_validate"] + ttl)
    check(code == 0 and "Found 0 errors" in text, "lv2_validate:\n" + text)
    print("lv2_validate: no error")


def test_info(env, bundle):
    code, text = run(["lv2info", URI], env)
    check(code == 0, "lv2info failed:\n" + text)
    ports = text.split("\tPort ")[1:]
    check(len(ports) == 11, "lv2info lists %d ports, not 11:\n%s" % (len(ports), text))
    expected = {
        "gain": ("InputPort", -8, 24, 0),
        "pad1": ("InputPort", 0, 1, 0),
        "pad2": ("InputPort", 0, 1, 0),
        "volume": ("InputPort", -32, 32, 0),
        "peak": ("OutputPort", 0, 2, 0),
        "quality": ("InputPort", 0, 1, 0),
    }
    for port in ports:
        symbol = port.split("Symbol:")[1].split()[0]
        if symbol in ("in_l", "in_r", "out_l", "out_r"):
            check("AudioPort" in port, symbol + " is not an audio port:\n" + port)
            continue
        if symbol == "latency":
            check("ControlPort" in port and "OutputPort" in port and "reportsLatency" in port,
                  "latency is not an output reporting the latency:\n" + port)
            continue
        kind, low, high, default = expected.pop(symbol)
        check("ControlPort" in port and kind in port, "%s is not a control %s:\n%s" % (symbol, kind, port))
        for label, value in (("Minimum", low), ("Maximum", high), ("Default", default)):
            check("%s:     %f" % (label, value) in port.replace(":  ", ":  "),
                  "%s: %s is not %g:\n%s" % (symbol, label, value, port))
        check(("lv2core#toggled" in port) == symbol.startswith("pad"), symbol + ": toggled?\n" + port)
    check(not expected, "lv2info lacks the ports %s" % sorted(expected))
    check("hardRTCapable" in text, "not hard-RT capable:\n" + text)
    # The unit is not in lv2info's listing: read the triples themselves.
    code, triples = run(["sordi", "-i", "turtle", "-o", "ntriples",
                         "file://" + os.path.join(bundle, "KV23-T-ZuDiz.ttl")])
    check(code == 0, "sordi failed:\n" + triples)
    units = [t for t in triples.splitlines() if "units#unit>" in t and "units#db>" in t]
    check(len(units) == 2, "expected units:db on gain and volume:\n" + triples)
    # LV2 reads an odd minor version as a development version hosts hide.
    minor = [t.split('"')[1] for t in triples.splitlines() if "lv2core#minorVersion>" in t]
    check(len(minor) == 1 and int(minor[0]) > 0 and int(minor[0]) % 2 == 0,
          "the minor version is not a release's (even, above 0): %s" % minor)
    ui = text.split("UIs:")[1].split("Data URIs:")[0]
    check(URI + "#ui" in ui and "ui#X11UI" in ui and "KV23-T-ZuDiz_ui.so" in ui,
          "lv2info shows no X11 UI in its own binary:\n" + ui)
    check("lv2core#enumeration" in text.split("Symbol:      quality")[1].split("Port ")[0]
          if "Symbol:      quality" in text else False, "quality is not an enumeration:\n" + text)
    print("lv2info: 11 ports with their ranges, defaults and switches; gain and volume in dB; "
          "an X11 UI; minor version %s" % minor[0])


def test_renders(env, plugin, kv23, work):
    src = os.path.join(work, "in.wav")
    frames = RATE // 4
    write_stereo_test_wav(src, RATE, frames)
    for n, (controls, options) in enumerate(RENDERS):
        lv2_out = os.path.join(work, "lv2-%d.wav" % n)
        vst_out = os.path.join(work, "vst-%d.wav" % n)
        args = ["lv2apply", "-i", src, "-o", lv2_out]
        for symbol, value in controls:
            args += ["-c", symbol, value]
        code, text = run(args + [URI], env)
        check(code == 0, "lv2apply %s failed:\n%s" % (controls, text))
        code, text = run([kv23, "process", src, vst_out, "--plugin", plugin] + options)
        check(code == 0, "kv23 process %s failed:\n%s" % (options, text))
        lv2 = read_wav(lv2_out)[2]
        vst = read_wav(vst_out)[2]
        check(len(lv2) == 2 and len(lv2[0]) == frames, "lv2apply wrote %d channels" % len(lv2))
        check(lv2 == vst, "LV2 and VST 2 differ for %s / %s" % (controls, options))
    print("lv2apply: %d renders equal kv23 process through the VST 2 build, bit for bit" % len(RENDERS))


def test_links(bundle):
    binary = os.path.join(bundle, "KV23-T-ZuDiz_dsp.so")
    code, text = run(["objdump", "-p", binary])
    check(code == 0, "objdump failed:\n" + text)
    needed = [line.split()[1] for line in text.splitlines() if line.strip().startswith("NEEDED")]
    gui = [lib for lib in needed if any(k in lib for k in ("X11", "xcb", "cairo", "fontconfig", "freetype"))]
    check(not gui, "the processing binary needs %s" % gui)
    print("the processing binary needs only %s" % ", ".join(needed))


def main(argv):
    if len(argv) != 4:
        print(__doc__)
        return 2
    bundle, plugin, kv23 = (os.path.abspath(a) for a in argv[1:])
    if not all(shutil.which(t) for t in ("lv2_validate", "lv2info", "lv2apply", "sordi")):
        print("skipped: lilv-utils, lv2-dev or sordi is not installed")
        return SKIP
    try:
        with tempfile.TemporaryDirectory(prefix="kv23-lv2-") as work:
            # Only our bundle on the LV2 path.
            os.symlink(bundle, os.path.join(work, os.path.basename(bundle)))
            env = dict(os.environ, LV2_PATH=work)
            test_validate(bundle)
            test_info(env, bundle)
            test_renders(env, plugin, kv23, work)
            test_links(bundle)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
