#!/usr/bin/env python3
"""The plug-in inside a real host, Ardour 7.

  test_ardour.py scanner PLUGIN
      Ardour's plug-in scanner must find the plug-in with 2 inputs and
      2 outputs.
  test_ardour.py session PLUGIN KV23 [LV2_BUNDLE]
      A headless Ardour session loads the plug-in, sets its parameters,
      exports, saves, reloads and exports again. What Ardour rendered must be
      what `kv23 process` makes of the same input with the same settings, and
      the settings must come back after the reload (through the state chunk).
      With LV2_BUNDLE, the session holds the LV2 plug-in instead (its controls
      in dB, saved as port values), still compared with kv23 and PLUGIN.

Exits 77 (skipped) when Ardour is not installed.
"""
import base64
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import (Failure, check, read_wav, write_float_wav,  # noqa: E402,F401
                             write_stereo_test_wav)

SKIP = 77
ARDOUR_LIB = "/usr/lib/ardour7"
SCANNER = os.path.join(ARDOUR_LIB, "ardour-vst-scanner")
LUA = shutil.which("ardour7-lua")
HERE = os.path.dirname(os.path.abspath(__file__))

RATE = 48000
SECONDS = 2.0
# Gain +14.4 dB, Pad 2 on, Volume -6.4 dB: well into the saturator, below
# full scale at the output for the generator's level.
PARAMS = [0.7, 0.0, 1.0, 0.4]
# The same settings as the LV2 plug-in's control ports: dB and switches.
LV2_CONTROLS = [-8 + 32 * PARAMS[0], PARAMS[1], PARAMS[2], -32 + 64 * PARAMS[3]]
FLOAT_PRESET = "0c6f4d8e-23a1-4b7a-b0f2-2f23d0a11e23"  # kv23-float.preset here
WAV_PRESET = "75969a1c-3133-4694-864b-a1fa50e43348"  # Ardour's "WAV @ session-rate"
# The plug-in in Ardour has been running on the live input before the export
# starts; its 15 Hz high-pass (pole 0.998 at 48 kHz) forgets that history
# within a quarter of a second (0.998^12000 < 1e-10). Compare after that.
SETTLE = 12000
# Both sides compute the same float arithmetic; what remains is the
# alternating 1e-15 offset and the forgotten history: far below 1e-5.
FLOAT_TOLERANCE = 1e-5
# Ardour's stock WAV preset is 16-bit with shaped dither on each channel:
# the input channel carries its own dither through the plug-in (small-signal
# gain below 1 at these settings) and the output channel another. Shaped
# dither error stays within a few steps (about 3 measured); 8 steps bound
# both together.
PCM16_TOLERANCE = 8.0 / 32768.0


def scan(plugin, home):
    env = dict(os.environ, LD_LIBRARY_PATH=ARDOUR_LIB, HOME=home)
    result = subprocess.run([SCANNER, "-v", "-f", os.path.abspath(plugin)], env=env,
                            capture_output=True, text=True, timeout=60)
    # The scanner exits 0 even when the plug-in fails: read what it says.
    return result.stdout + result.stderr


def test_scanner(plugin):
    with tempfile.TemporaryDirectory(prefix="kv23-scan-") as home:
        text = scan(plugin, home)
    check("Found Plugin" in text, "the scanner did not find the plug-in:\n" + text)
    check('name="KV23-T ZuDiz"' in text, "wrong name:\n" + text)
    check('creator="Harrow Quill"' in text, "wrong vendor:\n" + text)
    check('n_inputs="2"' in text and 'n_outputs="2"' in text,
          "the scanner does not see 2 inputs and 2 outputs:\n" + text)
    check('id="%d"' % 0x4B563233 in text, "wrong unique ID:\n" + text)
    print("scanner: found KV23-T ZuDiz with 2 inputs and 2 outputs")


def kv23_render(kv23, plugin, raw, work, tag):
    """What kv23 makes of the raw input channel with the same settings."""
    src = os.path.join(work, tag + "-in.wav")
    out = os.path.join(work, tag + "-kv23.wav")
    write_float_wav(src, RATE, raw)
    args = [kv23, "process", src, out, "--plugin", plugin]
    for i, v in enumerate(PARAMS):
        args += ["--param", "%d=%r" % (i, v)]
    subprocess.run(args, check=True, timeout=60)
    return read_wav(out)[2][0]


def compare(name, rendered, expected, tolerance):
    check(len(rendered) == len(expected), "%s: %d frames, kv23 gave %d" %
          (name, len(rendered), len(expected)))
    worst = max(abs(a - b) for a, b in zip(rendered[SETTLE:], expected[SETTLE:]))
    check(worst <= tolerance, "%s differs from kv23 by up to %.3g (allowed %.3g)" %
          (name, worst, tolerance))
    print("%s: matches kv23 within %.3g (allowed %.3g)" % (name, worst, tolerance))


def check_export(path, kv23, plugin, work, tolerance):
    rate, channels, (processed, raw) = read_wav(path)
    check(rate == RATE and channels == 2, "%s: %d Hz, %d channels" % (path, rate, channels))
    check(len(processed) >= RATE * SECONDS, path + " is too short")
    loud = max(abs(x) for x in raw[SETTLE:])
    check(loud > 0.05, "%s: the generator input is silent (peak %.3g)" % (path, loud))
    changed = max(abs(a - b) for a, b in zip(processed[SETTLE:], raw[SETTLE:]))
    check(changed > 0.05, path + ": the plug-in left the signal as it was")
    compare(os.path.basename(path), processed,
            kv23_render(kv23, plugin, raw, work, os.path.basename(path)), tolerance)


def saved_chunk(session_file):
    """The four floats of the plug-in's chunk as Ardour saved it."""
    with open(session_file) as f:
        text = f.read()
    start = text.find("<chunk")
    check(start >= 0, "the saved session holds no state chunk")
    start = text.find(">", start) + 1
    raw = base64.b64decode(text[start:text.find("</chunk>", start)])
    check(len(raw) == 16, "the saved chunk has %d bytes, not 16" % len(raw))
    return list(struct.unpack("<4f", raw))


def test_session(plugin, kv23, lv2_bundle=None):
    with tempfile.TemporaryDirectory(prefix="kv23-ardour-") as work:
        home = os.path.join(work, "home")
        folder = os.path.join(work, "vst")
        os.makedirs(os.path.join(home, ".config", "ardour7", "export"))
        os.makedirs(folder)
        for name in ("kv23-float.format", "kv23-float.preset"):
            shutil.copy(os.path.join(HERE, name),
                        os.path.join(home, ".config", "ardour7", "export"))
        copy = os.path.join(folder, "KV23-T-ZuDiz.so")
        shutil.copy(plugin, copy)
        # Ardour trusts its scan cache only when the cache is newer than the
        # plug-in file; a file built in the same second would look stale.
        os.utime(copy, (1577836800, 1577836800))
        session = os.path.join(work, "session")
        env = dict(os.environ, HOME=home, KV_SESSION_DIR=session,
                   KV_SESSION_NAME="kv23", KV_RATE=str(RATE), KV_SECONDS=str(SECONDS),
                   KV_FLOAT_PRESET=FLOAT_PRESET,
                   KV_WAV_PRESET=WAV_PRESET, KV_GENERATOR="Sine Sweep Swell")
        values = LV2_CONTROLS if lv2_bundle else PARAMS
        env["KV_PARAMS"] = ",".join(repr(v) for v in values)
        if lv2_bundle:
            # Only our bundle on the LV2 path; no VST 2 plug-in in sight.
            os.symlink(os.path.abspath(lv2_bundle), os.path.join(folder, "KV23-T-ZuDiz.lv2"))
            env.update(LV2_PATH=folder, LXVST_PATH=os.path.join(work, "none"), KV_PLUGIN_TYPE="LV2")
        else:
            scan(copy, home)
            env["LXVST_PATH"] = folder
        # Ardour itself sometimes dies on the way out of a headless session
        # (seen with its own Lua plug-ins too); a crash gets two more tries,
        # a wrong result none.
        for attempt in range(1, 4):
            shutil.rmtree(session, ignore_errors=True)
            result = subprocess.run([LUA, os.path.join(HERE, "session.lua")], env=env,
                                    capture_output=True, text=True, timeout=120, cwd=work)
            if "KV_DONE" in result.stdout or result.returncode in (0, 1):
                break
            print("Ardour crashed (exit %d) on attempt %d" % (result.returncode, attempt))
        log = result.stdout + result.stderr
        check("KV_DONE" in result.stdout, "the Ardour session did not finish:\n" + log)

        export = os.path.join(session, "export")
        check_export(os.path.join(export, "before.wav"), kv23, plugin, work, FLOAT_TOLERANCE)

        stored = [float(line.split()[2]) for line in result.stdout.splitlines()
                  if line.startswith("KV_PARAM ")]
        check(len(stored) == 4, "Ardour reported %d parameters after loading" % len(stored))
        for i, (want, got) in enumerate(zip(values, stored)):
            check(abs(want - got) < 1e-5, "parameter %d is %r after loading, not %r" %
                  (i, got, want))
        if lv2_bundle:
            print("reload: control values %s came back" % stored)
        else:
            chunk = saved_chunk(os.path.join(session, "kv23.ardour"))
            for i, (want, got) in enumerate(zip(PARAMS, chunk)):
                check(abs(want - got) < 1e-6, "the saved chunk holds %r for parameter %d, not %r" %
                      (got, i, want))
            print("reload: parameters %s came back; saved chunk %s" % (stored, chunk))
        # The reloaded instance must also sound the same, not just report
        # the same numbers; this export uses Ardour's stock 16-bit preset.
        check_export(os.path.join(export, "after16.wav"), kv23, plugin, work, PCM16_TOLERANCE)


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    if not os.path.exists(SCANNER) or LUA is None:
        print("Ardour 7 is not installed (scripts/setup.sh installs it): skipped")
        return SKIP
    try:
        if argv[1] == "scanner":
            test_scanner(argv[2])
        elif argv[1] == "session" and len(argv) in (4, 5):
            test_session(argv[2], argv[3], argv[4] if len(argv) == 5 else None)
        else:
            print(__doc__)
            return 2
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
