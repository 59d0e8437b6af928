#!/usr/bin/env python3
"""The CLAP plug-in's panel inside Qtractor, a real CLAP host.

  test_qtractor.py PLUGIN.clap PLUGIN.so KV23 PRIVATE_X SEQUENCER.so SHOT_DIR

In a private Xvfb under openbox, with a JACK server of its own (dummy
driver), Qtractor opens a session with one audio track that carries the CLAP
plug-in (HOME a fresh folder, so no user settings count). Qtractor needs an
ALSA sequencer, which these machines lack: SEQUENCER.so (LD_PRELOAD) gives it
an empty one. Then, as a user would:
- a double-click on the plug-in in the track's list opens its panel: a
  240 x 400 window, whose picture must be `kv23 snapshot` of the VST 2 build
  outside the knobs and the number fields (those are reported);
- a click on pad 1 lights it (as `kv23 snapshot --param 1=1` shows it) and
  reaches Qtractor: the session becomes modified, and after File/Save (Ctrl+S)
  the saved session holds Pad 1 = 1.
The pictures stay in SHOT_DIR: qtractor-clap.png (the screen),
qtractor-clap-panel.png (the panel) and qtractor-clap-reference.png (kv23
snapshot of the VST 2 build).

Exits 77 (skipped) when Qtractor, Xvfb, openbox, JACK or a tool is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import Failure, check  # noqa: E402

SKIP = 77
QTRACTOR = "/usr/bin/qtractor"
TOOLS = ["openbox", "jackd", "jack_wait", "xdotool", "xwininfo", "xprop", "import", "stream"]
SCREEN = (1280, 800)
PANEL = (240, 400)
# Panel rectangles (left, top, right, bottom): what the host's values may
# legitimately draw differently, and the pad the user clicks.
KNOBS_AND_FIELDS = [(80, 90, 160, 170), (80, 230, 160, 310), (30, 174, 60, 188),
                    (30, 314, 60, 328)]
PAD1 = (55, 24, 95, 54)
# Where Qtractor 0.9.31 shows a track's plug-in list, from its main window's
# corner (fresh settings, this screen): the first entry.
TRACK_PLUGIN_LIST = (179, 179)

SESSION = """<!DOCTYPE qtractorSession>
<session version="Qtractor 0.9.31" name="kv23">
 <properties>
  <directory>{folder}</directory>
  <sample-rate>48000</sample-rate>
 </properties>
 <devices>
  <audio-engine>
   <audio-bus name="Master" mode="duplex">
    <channels>2</channels>
    <auto-connect>1</auto-connect>
   </audio-bus>
  </audio-engine>
 </devices>
 <tracks>
  <track type="audio" name="Track 1">
   <properties>
    <input-bus>Master</input-bus>
    <output-bus>Master</output-bus>
   </properties>
   <state>
    <monitor>1</monitor>
    <gain>1</gain>
   </state>
   <plugins>
    <plugin type="CLAP">
     <filename>{plugin}</filename>
     <index>0</index>
     <label>KV23_T_ZuDiz</label>
     <activated>1</activated>
    </plugin>
   </plugins>
  </track>
 </tracks>
</session>
"""
# The track monitors its input, so Qtractor runs the plug-in while the
# transport stands: with neither monitoring nor playback, a click on the panel
# did not reach Qtractor 0.9.31 (its session stayed unmodified), although the
# plug-in asks the host for a flush.


class Skipped(Exception):
    pass


def wait_for(what, probe, timeout):
    """probe()'s first true answer within timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=20, **kwargs).stdout


def windows(cls):
    """(id, name) of the windows of an X class."""
    ids = run("xdotool", "search", "--class", cls).split()
    return [(w, run("xdotool", "getwindowname", w).strip()) for w in ids]


def panel_child(window):
    """The 240 x 400 child of the host's editor window: (id, x, y) on the screen."""
    for line in run("xwininfo", "-id", window, "-children").splitlines():
        fields = line.split()
        if fields and fields[0].startswith("0x") and "%dx%d+0+0" % PANEL in fields:
            x, y = fields[-1].lstrip("+").split("+")
            return fields[0], int(x), int(y)
    return None


def pixels(png):
    """The RGB bytes of a picture."""
    return subprocess.run(["stream", "-map", "rgb", "-storage-type", "char", png, "-"],
                          capture_output=True, check=True, timeout=20).stdout


def differing(a, b, inside):
    """How many pixels of the panel differ, outside and inside the rectangles."""
    counts = [0, 0]
    for y in range(PANEL[1]):
        for x in range(PANEL[0]):
            i = 3 * (y * PANEL[0] + x)
            if a[i:i + 3] != b[i:i + 3]:
                masked = any(l <= x < r and t <= y < b_ for l, t, r, b_ in inside)
                counts[masked] += 1
    return counts


def in_rect(a, b, rect):
    """Whether the pictures agree inside one rectangle."""
    l, t, r, b_ = rect
    return all(a[3 * (y * PANEL[0] + l):3 * (y * PANEL[0] + r)] ==
               b[3 * (y * PANEL[0] + l):3 * (y * PANEL[0] + r)] for y in range(t, b_))


class Processes:
    """What the test started, stopped in reverse order however it ends."""

    def __init__(self):
        self.started = []

    def start(self, args, log, **kwargs):
        p = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, **kwargs)
        self.started.append(p)
        return p

    def stop_all(self):
        for p in reversed(self.started):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def test(clap, vst, kv23, private_x, sequencer, shots, work, procs, log):
    x = subprocess.Popen([private_x, "--screen", "%dx%dx24" % SCREEN], stdout=subprocess.PIPE,
                         stderr=log, text=True)
    procs.started.append(x)
    display = x.stdout.readline().split()
    if not display:
        raise Skipped("no X server started")
    env = dict(os.environ, DISPLAY=display[0])
    os.environ["DISPLAY"] = display[0]  # for the tools run here
    # The references: the VST 2 build's panel, as it is and with pad 1 on,
    # before the window manager starts (kv23 snapshot waits for its own map).
    reference = os.path.join(shots, "qtractor-clap-reference.png")
    reference_pad = os.path.join(work, "reference-pad.png")
    subprocess.run([kv23, "snapshot", reference, "--plugin", vst], env=env, check=True,
                   capture_output=True, timeout=30)
    subprocess.run([kv23, "snapshot", reference_pad, "--plugin", vst, "--param", "1=1"],
                   env=env, check=True, capture_output=True, timeout=30)

    procs.start(["openbox", "--sm-disable"], log, env=env)
    wait_for("openbox", lambda: "window id" in run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
             10)

    server = "kv23-qtractor-%d" % os.getpid()
    procs.start(["jackd", "-n", server, "-d", "dummy", "-r", "48000", "-p", "512"], log)
    subprocess.run(["jack_wait", "-s", server, "-w", "-t", "10"], check=True,
                   capture_output=True, timeout=20)

    home, runtime, folder, reports = (os.path.join(work, n)
                                      for n in ("home", "run", "session", "sanitizer"))
    for d in (home, runtime, folder):
        os.makedirs(d, mode=0o700)
    session = os.path.join(folder, "kv23.qtr")
    with open(session, "w") as f:
        f.write(SESSION.format(folder=folder, plugin=clap))
    qenv = dict(env, HOME=home, XDG_RUNTIME_DIR=runtime, JACK_DEFAULT_SERVER=server,
                JACK_NO_START_SERVER="1", CLAP_PATH=os.path.dirname(clap),
                LD_PRELOAD=sequencer)
    asan = os.environ.get("KV_ASAN_RUNTIME")
    if asan:
        # An instrumented plug-in in an uninstrumented host: the runtime
        # first; Qtractor's own leaks are not ours to count.
        qenv.update(LD_PRELOAD=asan + " " + sequencer,
                    ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:log_path=" + reports,
                    UBSAN_OPTIONS="print_stacktrace=1:log_path=" + reports)
    qtractor = procs.start([QTRACTOR, session], log, env=qenv, cwd=folder)

    def main_window():
        check(qtractor.poll() is None, "Qtractor ended (%s)" % qtractor.returncode)
        return next((w for w, n in windows("qtractor") if n.startswith(session)), None)

    main = wait_for("Qtractor's window", main_window, 20)
    time.sleep(1.0)  # the session's tracks are laid out

    def editor():
        found = [w for w, n in windows("qtractor") if n.startswith("KV23-T ZuDiz - Track 1")]
        return panel_child(found[0]) if found else None

    # Open the panel: a double-click on the plug-in in the track's list.
    child = None
    for _ in range(3):
        run("xdotool", "mousemove", "--window", main, *map(str, TRACK_PLUGIN_LIST),
            "click", "--repeat", "2", "--delay", "80", "1")
        try:
            child = wait_for("the plug-in's panel", editor, 6)
            break
        except Failure:
            pass
    check(child is not None, "no 240 x 400 panel after double-clicks on the track's plug-in")
    panel, px, py = child
    shot = os.path.join(shots, "qtractor-clap-panel.png")
    want = pixels(reference)

    last = [None]

    def drawn():  # by the host's timer: a picture until it matches, or 5 s
        run("import", "-window", panel, shot)
        seen = pixels(shot)
        check(len(seen) == len(want) == 3 * PANEL[0] * PANEL[1], "the pictures are not 240 x 400")
        last[0] = differing(seen, want, KNOBS_AND_FIELDS)
        return last[0][0] == 0

    try:
        wait_for("the panel", drawn, 5)
    except Failure:
        raise Failure("%d pixels of the panel in Qtractor differ from kv23 snapshot" % last[0][0])
    outside, inside = last[0]
    run("import", "-window", "root", os.path.join(shots, "qtractor-clap.png"))
    print("Qtractor shows the panel: as kv23 snapshot outside the knobs and fields "
          "(%d pixels differ inside them); %s" % (inside, shot))

    # A click on pad 1, as a hand makes it.
    run("xdotool", "mousemove", str(px + (PAD1[0] + PAD1[2]) // 2),
        str(py + (PAD1[1] + PAD1[3]) // 2), "mousedown", "1")
    time.sleep(0.15)
    run("xdotool", "mouseup", "1")
    wait_for("Qtractor to hear of the click (a modified session)",
             lambda: "[modified]" in run("xdotool", "getwindowname", main), 10)
    time.sleep(0.3)
    lit = os.path.join(work, "lit.png")
    run("import", "-window", panel, lit)
    check(in_rect(pixels(lit), pixels(reference_pad), PAD1),
          "pad 1 does not look as kv23 snapshot --param 1=1 draws it")

    before = os.stat(session).st_mtime_ns
    run("xdotool", "windowactivate", "--sync", main, "key", "ctrl+s")
    wait_for("the saved session", lambda: os.stat(session).st_mtime_ns != before, 10)
    time.sleep(0.3)
    params = {p.get("name"): p.text for p in
              wait_for("a whole session file", lambda: saved_params(session), 5)}
    check(params.get("Pad 1") == "1", "the saved session holds %s" % params)
    print("a click on pad 1 reached Qtractor: the saved session holds %s" % params)

    # Qtractor ends as a user's session does, closing the panel and
    # destroying the plug-in.
    qtractor.terminate()
    check(qtractor.wait(timeout=15) == 0, "Qtractor ended with %s" % qtractor.returncode)
    found = [n for n in os.listdir(work) if n.startswith("sanitizer")]
    for name in found:
        with open(os.path.join(work, name)) as f:
            print(f.read())
    check(not found, "the sanitizers reported errors inside Qtractor")
    if asan:
        print("no sanitizer report from inside Qtractor")


def saved_params(session):
    try:
        return ET.parse(session).getroot().findall(".//plugin[@type='CLAP']/params/param")
    except ET.ParseError:
        return None


def main(argv):
    if len(argv) != 7:
        print(__doc__)
        return 2
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if not os.path.exists(QTRACTOR) or missing:
        print("skipped: missing %s" % " ".join(missing or ["qtractor"]))
        return SKIP
    clap, vst, kv23, private_x, sequencer, shots = map(os.path.abspath, argv[1:])
    started = time.monotonic()
    procs = Processes()
    with tempfile.TemporaryDirectory(prefix="kv23-qtractor-") as work, \
            open(os.path.join(work, "log.txt"), "w+") as log:
        try:
            test(clap, vst, kv23, private_x, sequencer, shots, work, procs, log)
        except Skipped as e:
            print("skipped: %s" % e)
            return SKIP
        except (Failure, subprocess.SubprocessError) as e:
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
