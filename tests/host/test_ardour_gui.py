#!/usr/bin/env python3
"""The VST3 plug-in's panel inside Ardour's own window, at Ardour's GUI scale 2.

  test_ardour_gui.py BUNDLE.vst3 PLUGIN.so KV23 PRIVATE_X SHOT_DIR

A headless Ardour session (tests/host/session.lua) gets the VST3 plug-in on a
bus and is saved; the session file then marks the plug-in's own editor as
open. Ardour 7 itself starts on a private Xvfb under openbox, with the dummy
audio engine started by itself, its GUI scale at 200 % and a fresh HOME.
Then, as a user would:
- Ardour shows the panel embedded in its plug-in window, at 480 x 800 (the
  panel's 240 x 400 at Ardour's factor, never multiplied by the desktop's),
  drawn as `kv23 snapshot --scale 2` draws the VST 2 build's; Ardour widens
  the window to its toolbar, and the part beside the panel is black;
- a click on pad 1 reaches Ardour: after Session/Save (Ctrl+S) the saved
  session holds Pad 1 on, as Ardour's port value and in the plug-in's chunk.
The pictures stay in SHOT_DIR: ardour-vst3.png (the screen) and
ardour-vst3-panel.png (the panel).

Exits 77 (skipped) when Ardour, openbox or a tool is missing.
"""
import base64
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import test_ardour
from test_qtractor import Failure, Processes, Skipped, check, run, wait_for

SKIP = 77
ARDOUR = "/usr/bin/ardour"
LUA = shutil.which("ardour7-lua")
HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = ["openbox", "xdotool", "xwininfo", "xprop", "import", "stream"]
SCREEN = (1600, 1200)
SCALE = 2
PANEL = (240 * SCALE, 400 * SCALE)
PAD1 = (55, 24, 95, 54)  # in panel units

# Ardour's settings in a fresh HOME: no first-run wizard, the dummy engine
# shown and started at once (it is hidden by default), and the GUI scale
# (font-scale is 1024 x the percentage).
RC = """<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="try-autostart-engine" value="1"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="None (Dummy)" driver="" device="Silence" input-device="" output-device=""
               sample-rate="48000" buffer-size="1024" n-periods="0" input-latency="0"
               output-latency="0" input-channels="0" output-channels="0" active="1"
               use-buffered-io="0" midi-option="" lm-input="" lm-output="" lru="1"/>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
"""
UI = """<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <UI>
    <Option name="font-scale" value="%d"/>
  </UI>
</Ardour>
""" % (1024 * 100 * SCALE)


def make_session(bundle, home, work):
    """A saved session whose bus "Drive" carries the plug-in, its editor
    marked open; the session file's path."""
    copy = os.path.join(home, ".vst3", "KV23-T-ZuDiz.vst3")
    shutil.copytree(bundle, copy)
    module = os.path.join(copy, "Contents", "x86_64-linux", "KV23-T-ZuDiz.so")
    os.utime(module, (1577836800, 1577836800))
    env = dict(os.environ, HOME=home, LD_LIBRARY_PATH="/usr/lib/ardour7")
    subprocess.run(["/usr/lib/ardour7/ardour-vst3-scanner", "-f", copy], env=env,
                   capture_output=True, timeout=60)
    session = os.path.join(work, "session")
    env = dict(os.environ, HOME=home, KV_SESSION_DIR=session, KV_SESSION_NAME="kv23",
               KV_RATE="48000", KV_SECONDS="0.1", KV_PHASE="create", KV_PLUGIN_TYPE="VST3",
               KV_FLOAT_PRESET="75969a1c-3133-4694-864b-a1fa50e43348",
               KV_WAV_PRESET="75969a1c-3133-4694-864b-a1fa50e43348",
               KV_GENERATOR="Silence", KV_PARAMS="0,0,0,0")
    test_ardour.run_session(env, work)
    path = os.path.join(session, "kv23.ardour")
    with open(path) as f:
        text = f.read()
    route = re.search(r'<Route [^>]*?id="(\d+)"[^>]*?name="Drive"', text)
    plugin = re.search(r'<Processor [^>]*?id="(\d+)"[^>]*?type="vst3"', text)
    check(route and plugin, "no bus Drive with the VST3 plug-in in the session")
    window = '<Window name="P-%s-%s" visible="1" custom-ui="1" x-off="40" y-off="40"/>' % (
        route.group(1), plugin.group(1))
    if "<UI>" in text:
        text = text.replace("<UI>", "<UI>" + window, 1)
    elif "<Extra>" in text:
        text = text.replace("<Extra>", "<Extra><UI>" + window + "</UI>", 1)
    else:
        text = text.replace("</Session>", "<Extra><UI>" + window + "</UI></Extra></Session>")
    with open(path, "w") as f:
        f.write(text)
    return path


def find_panel():
    """Our window in Ardour's plug-in window: (id, x, y, width). Ardour
    widens it to its own toolbar; the panel is drawn at its left."""
    found = None
    for line in run("xwininfo", "-root", "-tree").splitlines():
        fields = line.split()
        size = next((f for f in fields if re.fullmatch(r"\d+x%d\+0\+0" % PANEL[1], f)), None)
        if fields and fields[0].startswith("0x") and size:
            width = int(size.split("x")[0])
            if width >= PANEL[0]:
                found = (fields[0], width)
    if not found:
        return None
    info = run("xwininfo", "-id", found[0])
    x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
    y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
    return found[0], x, y, found[1]


def rgb(png):
    """The RGB bytes of a picture."""
    return subprocess.run(["stream", "-map", "rgb", "-storage-type", "char", png, "-"],
                          capture_output=True, check=True, timeout=20).stdout


def saved_pad1(path):
    """Pad 1 as Ardour saved it: (port value, value in the chunk's record)."""
    with open(path) as f:
        text = f.read()
    port = re.search(r'<Port id="1" value="([^"]*)"', text)
    chunk = re.search(r"<chunk[^>]*>([^<]*)</chunk>", text)
    if not port or not chunk:
        return None
    blob = base64.b64decode(chunk.group(1))
    at = blob.find(b"KV23\x02\x00\x00\x00")
    if at < 0:
        return None
    return float(port.group(1)), struct.unpack("<5f", blob[at + 8:at + 28])[1]


def test(bundle, vst2, kv23, private_x, shots, work, procs, log):
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, ".config", "ardour7"))
    for name, text in ((".a7", ""), ("config", RC), ("ui_config", UI)):
        with open(os.path.join(home, ".config", "ardour7", name), "w") as f:
            f.write(text)
    session = make_session(bundle, home, work)

    x = subprocess.Popen([private_x, "--screen", "%dx%dx24" % SCREEN], stdout=subprocess.PIPE,
                         stderr=log, text=True)
    procs.started.append(x)
    display = x.stdout.readline().split()
    if not display:
        raise Skipped("no X server started")
    env = dict(os.environ, DISPLAY=display[0], HOME=home)
    os.environ["DISPLAY"] = display[0]  # for the tools run here
    procs.start(["openbox", "--sm-disable"], log, env=env)
    wait_for("openbox", lambda: "window id" in run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
             10)
    ardour = procs.start([ARDOUR, "-n", session], log, env=env, cwd=work)

    def panel():
        check(ardour.poll() is None, "Ardour ended (%s)" % ardour.returncode)
        return find_panel()

    child, px, py, width = wait_for("the plug-in's panel, %d pixels high" % PANEL[1], panel, 40)
    shot = os.path.join(shots, "ardour-vst3-panel.png")
    reference = os.path.join(work, "reference.png")
    subprocess.run([kv23, "snapshot", reference, "--plugin", vst2, "--scale", str(SCALE)],
                   env=dict(env, HOME=work), check=True, capture_output=True, timeout=30)
    want = rgb(reference)
    check(len(want) == 3 * PANEL[0] * PANEL[1], "kv23's snapshot is not %d x %d" % PANEL)
    last = [None]

    def drawn():  # by the host's run loop: the panel as kv23 draws it, and black beside it
        run("import", "-window", child, shot)
        seen = rgb(shot)
        rows = [seen[3 * width * y:3 * width * (y + 1)] for y in range(PANEL[1])]
        panel_rows = b"".join(r[:3 * PANEL[0]] for r in rows)
        beyond = b"".join(r[3 * PANEL[0]:] for r in rows)
        last[0] = (sum(a != b for a, b in zip(panel_rows, want)), len(beyond) - beyond.count(0))
        return last[0] == (0, 0)

    try:
        wait_for("the panel drawn", drawn, 10)
    except Failure:
        raise Failure("the panel in Ardour differs from kv23 snapshot --scale %d in %d bytes; "
                      "%d bytes beside it are not black" % ((SCALE,) + last[0]))
    run("import", "-window", "root", os.path.join(shots, "ardour-vst3.png"))
    print("Ardour shows the panel embedded at %d x %d, as kv23 snapshot --scale %d draws it "
          "(Ardour's window is %d wide: black beside the panel): %s"
          % (PANEL + (SCALE, width, shot)))

    check(saved_pad1(session)[0] == 0, "pad 1 is on before the click")
    run("xdotool", "mousemove", str(px + SCALE * (PAD1[0] + PAD1[2]) // 2),
        str(py + SCALE * (PAD1[1] + PAD1[3]) // 2), "mousedown", "1")
    time.sleep(0.15)
    run("xdotool", "mouseup", "1")
    time.sleep(0.5)
    main = next((w for w in run("xdotool", "search", "--name", "kv23 - Ardour").split()), None)
    check(main is not None, "no Ardour main window")
    before = os.stat(session).st_mtime_ns
    run("xdotool", "windowactivate", "--sync", main, "key", "ctrl+s")
    wait_for("the saved session", lambda: os.stat(session).st_mtime_ns != before, 10)
    time.sleep(0.5)
    pad = wait_for("a whole session file", lambda: saved_pad1(session), 5)
    check(pad == (1.0, 1.0), "the saved session holds pad 1 as (port, chunk) %s" % (pad,))
    print("a click on pad 1 reached Ardour: the saved session holds it on (port %g, chunk %g)"
          % pad)


def main(argv):
    if len(argv) != 6:
        print(__doc__)
        return 2
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if not os.path.exists(ARDOUR) or LUA is None or missing:
        print("skipped: missing %s" % " ".join(missing or ["ardour"]))
        return SKIP
    bundle, vst2, kv23, private_x, shots = map(os.path.abspath, argv[1:])
    started = time.monotonic()
    procs = Processes()
    with tempfile.TemporaryDirectory(prefix="kv23-ardour-gui-") as work, \
            open(os.path.join(work, "log.txt"), "w+") as log:
        try:
            test(bundle, vst2, kv23, private_x, shots, work, procs, log)
        except Skipped as e:
            print("skipped: %s" % e)
            return SKIP
        except (Failure, test_ardour.Failure, subprocess.SubprocessError) as e:
            if "DISPLAY" in os.environ:  # what the screen showed
                run("import", "-window", "root", os.path.join(shots, "ardour-vst3-failed.png"))
            procs.stop_all()
            print("FAILED: %s" % e)
            log.seek(0)
            print("--- log\n" + log.read()[-4000:])
            return 1
        finally:
            procs.stop_all()
    print("%.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
