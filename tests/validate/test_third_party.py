#!/usr/bin/env python3
"""kv23 as a host for plug-ins it was not written with: our own plug-in and
third-party VST 2.4 plug-ins of different shapes from Debian (DPF: legacy
entry point `main`, 2 in/6 out, 4 in; LSP: editors that know their size only
once open, chunks of their own), and VST3 bundles (zam-plugins: a controller
of its own and a side-chain bus; DPF's reading of VST3 in the suite's gain
fixture with a cairo panel; ZaMaximX2 is known here but not in the suite). Each one goes through info, process (a file
and --demo), snapshot, gui and validate. kv23 must never crash or hang; our
plug-in passes every check, and every check a third-party plug-in fails is
one that docs/validator-findings.md lists for it with the harm it does.

usage: test_third_party.py KV23 OUR_PLUGIN FINDINGS.md PLUGIN PART
PLUGIN is one of the files below or OUR_PLUGIN; PART is "commands" (every
command, and validate's groups load, processing, state and threads),
"editor" (its editor and allocation groups), "lifetime", or the format's own
group ("vst2", "vst3"). The suite runs one test per plug-in and part,
each with an X server of its own, so that ctest spreads them.
Exit 77 (skipped) when the plug-in's Debian package is not installed.
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import wave

KV23, OURS, FINDINGS, PLUGIN, PART = sys.argv[1:6]
GROUPS = {"commands": "load,processing,state,threads", "editor": "editor,allocation",
          "lifetime": "lifetime", "vst2": "vst2", "vst3": "vst3"}

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import read_png, start_xvfb  # noqa: E402

# file (or, for a file the suite builds, its name), inputs, outputs
THIRD_PARTY = [
    ("/usr/lib/vst3/ZamComp.vst3", 1, 1),
    ("/usr/lib/vst3/ZaMaximX2.vst3", 2, 2),
    ("dpf-ui-fixture.vst3", 2, 2),
    ("/usr/lib/vst/3BandEQ-vst.so", 2, 2),
    ("/usr/lib/vst/3BandSplitter-vst.so", 2, 6),
    ("/usr/lib/vst/AmplitudeImposer-vst.so", 4, 2),
    ("/usr/lib/vst/lsp-plugins/compressor-stereo.so", 2, 2),
    ("/usr/lib/vst/lsp-plugins/limiter-stereo.so", 2, 2),
]
# validate: counts of strictness 1, every tier; a check that needs longer
# than CHECK_TIME seconds counts as hung (and must be listed as such).
VALIDATE = ["--strictness", "1", "--tier", "hostile", "--check-time", "60"]


def run_kv23(args, timeout, display, stdin=None):
    """Runs kv23; a hang past `timeout` is a failure of kv23 itself."""
    started = time.monotonic()
    try:
        p = subprocess.run([KV23] + args, input=stdin, capture_output=True, text=True,
                           timeout=timeout, env=dict(os.environ, DISPLAY=display))
    except subprocess.TimeoutExpired:
        return None, "", "kv23 %s hung for %d s" % (args[0], timeout), timeout
    return p.returncode, p.stdout, p.stderr, time.monotonic() - started


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


def findings_for(name):
    """Check names docs/validator-findings.md lists for the plug-in file `name`."""
    listed = set()
    with open(FINDINGS, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\|\s*`?%s`?\s*\|\s*`?([a-z0-9-]+\.[a-z0-9-]+)`?\s*\|" % re.escape(name),
                         line)
            if m:
                listed.add(m.group(1))
    return listed


def commands(run, name, base, inputs, outputs, work, ours):
    """info, process (a file and --demo), snapshot and gui; answers the problems."""
    problems = []
    rc, out, err, _ = run(["info"] + base, 30)
    if rc != 0 or "Inputs          %d" % inputs not in out or \
            "Outputs         %d" % outputs not in out:
        problems.append("info: rc %s\n%s%s" % (rc, out, err))

    for args in (["process", os.path.join(work, "in.wav"), os.path.join(work, name + ".wav")],
                 ["process", "--demo", os.path.join(work, name + "-demo.wav")]):
        rc, out, err, _ = run(args + base, 60)
        if rc != 0:
            problems.append("%s: rc %s\n%s" % (" ".join(args[:2]), rc, err))
            continue
        # A plug-in with more than two outputs gives a channel per output.
        channels, frames = wav_shape(args[-1])
        if channels != (outputs if outputs > 2 else 2) or frames == 0:
            problems.append("%s: %d channels, %d frames" % (args[-1], channels, frames))
        if inputs == 4 and "inputs 3 to 4 of the plug-in get silence" not in err:
            problems.append("process does not say what the extra inputs get:\n" + err)
        if args[1] == "--demo" and not ours and "keeps its own" not in err:
            problems.append("process --demo does not say the settings are not applied:\n" + err)

    png = os.path.join(work, name + ".png")
    rc, out, err, _ = run(["snapshot", png, "--over"] + base, 60)
    if rc != 0 or not os.path.exists(png):
        problems.append("snapshot: rc %s\n%s%s" % (rc, out, err))
    else:
        # A picture of something: more than one colour.
        _, _, rows = read_png(png)
        if len(set(p for row in rows for p in row)) < 2:
            problems.append("snapshot: the picture is of one colour\n%s%s" % (out, err))

    rc, out, err, _ = run(["gui", "--close-after", "3000"] + base, 60, stdin="params\nover\n")
    if rc != 0 or not re.search(r"^open \d+ \d+ 0x", out, re.M) or "\nover\n" not in out \
            or not out.rstrip().endswith("closed"):
        problems.append("gui: rc %s\n%s%s" % (rc, out, err))
    return problems


def exercise(plugin, inputs, outputs, work, display):
    """The commands (for PART "commands") and validate's groups of PART on
    one plug-in; answers (problems, report lines)."""
    problems = []

    def run(args, timeout, stdin=None):
        return run_kv23(args, timeout, display, stdin)
    # A VST3 bundle keeps its extension: the findings name the CLAP
    # build of the same plug-in without one.
    name = os.path.basename(plugin)
    if not name.endswith(".vst3"):
        name = os.path.splitext(name)[0]
    base = ["--plugin", plugin]
    ours = plugin == OURS
    if PART == "commands":
        problems += commands(run, name, base, inputs, outputs, work, ours)

    rc, out, err, seconds = run(["validate"] + base + VALIDATE + ["--group", GROUPS[PART]], 900)
    lines = out.splitlines()
    summary = lines[-1] if lines else ""
    if rc not in (0, 1) or not re.match(r"^\d+ passed, \d+ failed", summary):
        problems.append("validate: rc %s, no closing line\n%s%s" % (rc, out, err[-2000:]))
    failed = [l.split()[1] for l in lines if l.startswith("FAIL ")]
    if ours:
        for line in lines:
            if line.startswith("FAIL "):
                problems.append("our plug-in fails: " + line)
    else:
        listed = findings_for(name)
        for check in failed:
            if check not in listed:
                problems.append("FAIL %s is not in %s for %s" % (check, FINDINGS, name))
    for line in lines:
        if line.startswith("FAIL ") and "a host would see: " not in line:
            problems.append("a failure without its tier and harm: " + line)
    report = ["%s, %s: %s (validate %.0f s)" % (name, PART, summary, seconds)]
    report += ["  " + l for l in lines if l[:5] in ("PASS ", "FAIL ", "SKIP ")]
    return problems, report


def main():
    shapes = dict((os.path.basename(p), (i, o)) for p, i, o in THIRD_PARTY + [(OURS, 2, 2)])
    if os.path.basename(PLUGIN) not in shapes:
        raise SystemExit("%s is none of the plug-ins this test knows" % PLUGIN)
    if not os.path.exists(PLUGIN):
        print("skipped: install dpf-plugins-vst, lsp-plugins-vst, zam-plugins and dpf-source "
              "(%s missing)" % PLUGIN)
        return 77
    inputs, outputs = shapes[os.path.basename(PLUGIN)]
    # An X server of its own: the editor checks count the windows on their
    # server, which another test's plug-in must not change.
    with tempfile.TemporaryDirectory() as work, open(os.path.join(work, "xvfb.log"), "w") as log:
        server, display = start_xvfb(log)
        try:
            write_input(os.path.join(work, "in.wav"))
            problems, report = exercise(PLUGIN, inputs, outputs, work, display)
        finally:
            server.terminate()
            server.wait()
    print("\n".join(report))
    for p in problems:
        print("  PROBLEM " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
