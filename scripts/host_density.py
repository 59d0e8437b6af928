#!/usr/bin/env python3
"""What a musician gets on a dense screen in Ardour 7 and Qtractor, per format.

  scripts/host_density.py BUILD_DIR [--peer] [--only TEXT] [--shots DIR]

Each case runs in a private Xvfb of its own (3840 x 2160, a 4K screen) under
openbox, its resources at Xft.dpi 96 or 192 (what a desktop at 100 % or
200 % writes), with a JACK server of its own (dummy driver) and a fresh HOME:
- Qtractor 0.9.31 opens a session with one audio track carrying the plug-in
  (VST 2, LV2 or CLAP), and a double-click on it opens its editor;
- Ardour 7.3 opens a session made by ardour7-lua with one bus carrying the
  plug-in (VST 2 or LV2) whose editor the session marks as open; Ardour's
  own GUI scale (`font-scale` in ~/.config/ardour7/ui_config) is 100 % or
  200 %.
It prints, per case, the size of the host's editor window, of the plug-in's
own X window inside it, and the factor the panel is drawn at (the panel's
bottom strip compared with `kv23 snapshot --scale F` of the VST 2 build), and
keeps a picture of the host's editor window in the shots folder (default
out/host-density). --peer measures DPF's ZamComp (Debian's zam-plugins) the
same way, for comparison: a plug-in of another make in the same hosts.
--only runs the cases whose label contains TEXT. Needs qtractor, ardour,
Xvfb, openbox, jackd, xdotool, xwininfo, xrdb and ImageMagick; the
Qtractor test's empty ALSA sequencer (BUILD_DIR/tests/support) stands in
for the one these machines lack. About 20 s a case.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SCREEN = "3840x2160x24"
PANEL = (240, 400)
# Where Qtractor shows a track's first plug-in, from its main window's
# corner, at 1x (fresh settings).
QTRACTOR_PLUGIN_LIST = (179, 179)
URI = "urn:harrowquill:kv23-t-zudiz"
UNSCALED_QT = "QT_ENABLE_HIGHDPI_SCALING=0 QT_FONT_DPI=96"

QTRACTOR_SESSION = """<!DOCTYPE qtractorSession>
<session version="Qtractor 0.9.31" name="kv23">
 <properties><directory>{folder}</directory><sample-rate>48000</sample-rate></properties>
 <devices><audio-engine><audio-bus name="Master" mode="duplex">
  <channels>2</channels><auto-connect>1</auto-connect>
 </audio-bus></audio-engine></devices>
 <tracks><track type="audio" name="Track 1">
  <properties><input-bus>Master</input-bus><output-bus>Master</output-bus></properties>
  <state><monitor>1</monitor><gain>1</gain></state>
  <plugins><plugin type="{kind}">
   <filename>{filename}</filename><index>0</index><label>{label}</label>
   <activated>1</activated>
  </plugin></plugins>
 </track></tracks>
</session>
"""

ARDOUR_LUA = """
local backend = AudioEngine:set_backend("JACK", "", "")
assert(AudioEngine:start(false) == 0, "JACK did not start")
Session = create_session(os.getenv("KV_SESSION_DIR"), "kv23", 48000)
assert(Session, "no session")
local function build()
  local list = Session:new_audio_route(2, 2, nil, 1, "Drive",
    ARDOUR.PresentationInfo.Flag.AudioBus, ARDOUR.PresentationInfo.max_order)
  local bus = list:front()
  local plugin = ARDOUR.LuaAPI.new_plugin(Session, os.getenv("KV_PLUGIN_NAME"),
    ARDOUR.PluginType[os.getenv("KV_PLUGIN_TYPE")], "")
  assert(not plugin:isnil(), "Ardour did not find the plug-in")
  assert(bus:add_processor_by_index(plugin, 0, nil, true) == 0)
  print("KV_IDS " .. bus:to_stateful():id():to_s() .. " " .. plugin:to_stateful():id():to_s())
end
build()
collectgarbage()
Session:save_state("", false, false, false, false, false)
print("KV_SAVED")
"""
# Ardour starts its engine without asking when the last one it ran is known
# and autostart is on: the JACK server of the case, whatever it is called.
ARDOUR_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config><Option name="try-autostart-engine" value="1"/></Config>
  <Extra><AudioMIDISetup><EngineStates>
    <State backend="JACK" driver="" device="" input-device="" output-device=""
     sample-rate="48000" buffer-size="512" n-periods="2" input-latency="0"
     output-latency="0" lm-input="" lm-output="" active="1" use-buffered-io="0"
     midi-option="" lru="1"><MIDIDevices/></State>
  </EngineStates></AudioMIDISetup></Extra>
</Ardour>
"""
ARDOUR_UI_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<Ardour><UI><Option name="font-scale" value="{scale}"/></UI></Ardour>
"""


class Failure(Exception):
    pass


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=60, **kwargs).stdout


def wait_for(what, probe, timeout):
    end = time.monotonic() + timeout
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.2)


def tree(window):
    """(id, width, height, x, y, depth) of the windows below a window, outermost
    first; x and y on the screen."""
    found = []
    for line in run("xwininfo", "-id", window, "-tree").splitlines():
        m = re.match(r"(\s+)(0x[0-9a-f]+) .*\s(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)$",
                     line)
        if m:
            found.append((m.group(2), int(m.group(3)), int(m.group(4)), int(m.group(5)),
                          int(m.group(6)), len(m.group(1))))
    return found


def size_of(window):
    info = run("xwininfo", "-id", window)
    w = re.search(r"Width: (\d+)", info)
    h = re.search(r"Height: (\d+)", info)
    return (int(w.group(1)), int(h.group(1))) if w and h else None


def client(window_id):
    """The X client a window id belongs to (Xvfb hands out 2^21 ids each)."""
    return int(window_id, 0) >> 21  # xwininfo's 0x... or xdotool's decimal


def pixels(png, crop=None):
    args = ["convert", png] + (["-crop", crop, "+repage"] if crop else []) + ["rgb:-"]
    return subprocess.run(args, capture_output=True, check=True, timeout=30).stdout


class Case:
    def __init__(self, host, kind, dpi, setting, plugin):
        self.host, self.kind, self.dpi, self.setting, self.plugin = host, kind, dpi, setting, plugin

    @property
    def label(self):
        return "%s %s %s Xft.dpi %d%s" % (self.host, self.plugin["name"], self.kind, self.dpi,
                                          (", " + self.setting) if self.setting else "")


class Desktop:
    """A private X server with openbox and a JACK server; everything it
    started is stopped, last first, when it ends."""

    def __init__(self, build, dpi, work):
        self.started = []
        self.log = open(os.path.join(work, "log.txt"), "a")
        x = subprocess.Popen([os.path.join(build, "tests/support/kv_private_x"), "--screen",
                              SCREEN], stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.started.append(x)
        display = x.stdout.readline().split()
        if not display:
            raise Failure("no X server")
        os.environ["DISPLAY"] = display[0]
        subprocess.run(["xrdb", "-merge"], input="Xft.dpi: %d\n" % dpi, text=True, check=True)
        self.start(["openbox", "--sm-disable"])
        wait_for("openbox", lambda: "window id" in run("xprop", "-root",
                                                         "_NET_SUPPORTING_WM_CHECK"), 10)
        self.jack = "kv23-density-%d" % os.getpid()
        self.start(["jackd", "-n", self.jack, "-d", "dummy", "-r", "48000", "-p", "512"])
        subprocess.run(["jack_wait", "-s", self.jack, "-w", "-t", "10"], check=True,
                       capture_output=True, timeout=20)

    def start(self, args, **kwargs):
        p = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT, **kwargs)
        self.started.append(p)
        return p

    def stop(self):
        for p in reversed(self.started):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.log.close()


def open_in_qtractor(case, desk, work, build):
    folder = os.path.join(work, "session")
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "run")
    for d in (folder, home, runtime):
        os.makedirs(d, mode=0o700)
    plugin = case.plugin
    filename = {"VST 2": plugin["vst2"], "LV2": plugin["uri"], "CLAP": plugin["clap"]}[case.kind]
    kind = {"VST 2": "VST", "LV2": "LV2", "CLAP": "CLAP"}[case.kind]
    session = os.path.join(folder, "kv23.qtr")
    with open(session, "w") as f:
        f.write(QTRACTOR_SESSION.format(folder=folder, kind=kind, filename=filename,
                                        label=plugin["label"]))
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, JACK_DEFAULT_SERVER=desk.jack,
               JACK_NO_START_SERVER="1", LV2_PATH=plugin["lv2_path"],
               CLAP_PATH=os.path.dirname(plugin["clap"]),
               LD_PRELOAD=os.path.join(build, "tests/support/libkv_empty_sequencer.so"))
    # Qt 6 scales its widgets by the desktop's factor unless told not to;
    # Qtractor then looks as it does at 100 % (its text too, so that the
    # track's plug-in list is where it is at 100 %).
    zoom = case.dpi / 96.0
    if case.setting == UNSCALED_QT:
        env.update(QT_ENABLE_HIGHDPI_SCALING="0", QT_FONT_DPI="96")
        zoom = 1.0
    qtractor = desk.start(["qtractor", session], env=env, cwd=folder)

    def main_window():
        if qtractor.poll() is not None:
            raise Failure("Qtractor ended (%s)" % qtractor.returncode)
        ids = run("xdotool", "search", "--name", "^" + re.escape(session)).split()
        return ids[0] if ids else None

    main = wait_for("Qtractor's window", main_window, 30)
    time.sleep(1.5)
    x, y = (str(int(v * zoom)) for v in QTRACTOR_PLUGIN_LIST)
    editor_name = "^%s - Track 1" % re.escape(plugin["name"])
    for _ in range(3):
        run("xdotool", "mousemove", "--window", main, x, y, "click", "--repeat", "2", "--delay",
            "80", "1")
        try:
            return wait_for("the editor", lambda: run("xdotool", "search", "--name",
                                                      editor_name).split()[:1], 8)[0]
        except Failure:
            pass
    raise Failure("no editor after double-clicks on the track's plug-in")


def open_in_ardour(case, desk, work):
    home = os.path.join(work, "home")
    config = os.path.join(home, ".config", "ardour7")
    os.makedirs(config)
    open(os.path.join(config, ".a7"), "w").close()  # no first-run wizard
    with open(os.path.join(config, "config"), "w") as f:
        f.write(ARDOUR_CONFIG)
    # What "Do not show this again" stores after Ardour's warning that it
    # may not lock memory (which a machine's ulimit may refuse).
    with open(os.path.join(config, "instant.xml"), "w") as f:
        f.write("<instant><no-memory-warning/></instant>\n")
    scale = 204800 if case.setting == "Ardour at 200 %" else 102400
    with open(os.path.join(config, "ui_config"), "w") as f:
        f.write(ARDOUR_UI_CONFIG.format(scale=scale))
    plugin = case.plugin
    folder = os.path.join(work, "vst")
    os.makedirs(folder)
    env = dict(os.environ, HOME=home, JACK_DEFAULT_SERVER=desk.jack, JACK_NO_START_SERVER="1",
               LV2_PATH=plugin["lv2_path"], LXVST_PATH=folder)
    if case.kind == "VST 2":
        copy = os.path.join(folder, os.path.basename(plugin["vst2"]))
        shutil.copy(plugin["vst2"], copy)
        os.utime(copy, (1577836800, 1577836800))  # older than the scan cache
        subprocess.run(["/usr/lib/ardour7/ardour-vst-scanner", "-f", copy], capture_output=True,
                       env=dict(env, LD_LIBRARY_PATH="/usr/lib/ardour7"), timeout=60)
    session = os.path.join(work, "session")
    lua = os.path.join(work, "make.lua")
    with open(lua, "w") as f:
        f.write(ARDOUR_LUA)
    made = subprocess.run(["ardour7-lua", lua], capture_output=True, text=True, timeout=120,
                          env=dict(env, KV_SESSION_DIR=session, KV_PLUGIN_NAME=plugin["ardour"],
                                   KV_PLUGIN_TYPE="LXVST" if case.kind == "VST 2" else "LV2"))
    ids = re.search(r"KV_IDS (\d+) (\d+)", made.stdout)
    if not ids or "KV_SAVED" not in made.stdout:
        raise Failure("ardour7-lua made no session:\n" + (made.stdout + made.stderr)[-2000:])
    # The session says the plug-in's own editor is open.
    path = os.path.join(session, "kv23.ardour")
    with open(path) as f:
        text = f.read()
    window = '<Window name="P-%s-%s" visible="1" custom-ui="1"/>' % ids.groups()
    with open(path, "w") as f:
        f.write(text.replace("</Session>", "<Extra><UI>%s</UI></Extra>\n</Session>" % window))
    desk.start(["ardour", "-n", "-a", path], env=env)
    suffix = "[VST]" if case.kind == "VST 2" else "[LV2]"
    return wait_for("Ardour's editor window", lambda: next(
        (w for w in run("xdotool", "search", "--name", re.escape(suffix) + "$").split()), None),
        60)


def panel_factor(shot, origin, references):
    """The factor whose reference matches the panel's bottom strip at origin."""
    for factor, reference in references.items():
        w, h = PANEL[0] * factor, 60 * factor
        crop = "%dx%d+%d+%d" % (w, h, origin[0], origin[1] + (PANEL[1] - 60) * factor)
        want = pixels(reference, "%dx%d+0+%d" % (w, h, (PANEL[1] - 60) * factor))
        try:
            seen = pixels(shot, crop)
        except subprocess.CalledProcessError:
            continue
        if len(seen) == len(want):
            same = sum(1 for i in range(0, len(want), 3) if seen[i:i + 3] == want[i:i + 3])
            if same >= 0.99 * (len(want) // 3):
                return factor
    return None


def measure(case, build, shots, references):
    with tempfile.TemporaryDirectory(prefix="kv23-density-") as work:
        desk = Desktop(build, case.dpi, work)
        try:
            try:
                if case.host == "Qtractor":
                    editor = open_in_qtractor(case, desk, work, build)
                else:
                    editor = open_in_ardour(case, desk, work)
            except Failure:
                run("import", "-window", "root", os.path.join(shots, "failed.png"))
                raise
            time.sleep(3)  # drawn, and resized if the host resizes
            windows = tree(editor)
            host = client(editor)
            # The plug-in's window: the deepest one another client made (a
            # host may embed it in windows of a second connection of its own).
            theirs = sorted((w for w in windows if client(w[0]) != host), key=lambda w: -w[5])
            shot = os.path.join(shots, re.sub(r"[^a-z0-9]+", "-", case.label.lower()) + ".png")
            run("import", "-window", "root", shot + ".root.png")
            top = size_of(editor)
            ex, ey = (int(v) for v in re.search(
                r"Absolute upper-left X:\s+(-?\d+).*Absolute upper-left Y:\s+(-?\d+)",
                run("xwininfo", "-id", editor), re.S).groups())
            run("convert", shot + ".root.png", "-crop", "%dx%d+%d+%d" % (top + (ex, ey)),
                "+repage", shot)
            os.remove(shot + ".root.png")
            factor = None
            if theirs and case.plugin["ours"]:
                factor = panel_factor(shot, (theirs[0][3] - ex, theirs[0][4] - ey), references)
            return {
                "host window": "%dx%d" % top,
                "plug-in window": "%dx%d" % theirs[0][1:3] if theirs else "none",
                "panel": ("%dx%d (%dx)" % (PANEL[0] * factor, PANEL[1] * factor, factor))
                if factor else "-",
                "shot": shot,
            }
        finally:
            desk.stop()


def main(argv):
    if len(argv) < 2 or argv[1].startswith("-"):
        print(__doc__)
        return 2
    build = os.path.abspath(argv[1])
    peer = "--peer" in argv
    only = argv[argv.index("--only") + 1] if "--only" in argv else ""
    shots = os.path.abspath(argv[argv.index("--shots") + 1] if "--shots" in argv else
                            "out/host-density")
    os.makedirs(shots, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="kv23-density-lv2-") as lv2:
        # Only our bundle on our LV2 path.
        os.symlink(os.path.join(build, "KV23-T-ZuDiz.lv2"), os.path.join(lv2, "KV23-T-ZuDiz.lv2"))
        plugins = [{"name": "KV23-T ZuDiz", "ours": True, "ardour": "KV23-T ZuDiz",
                    "label": "KV23-T ZuDiz", "uri": URI, "lv2_path": lv2,
                    "vst2": os.path.join(build, "KV23-T-ZuDiz.so"),
                    "clap": os.path.join(build, "KV23-T-ZuDiz.clap")}]
        if peer:
            plugins.append({"name": "ZamComp", "ours": False, "ardour": "ZamComp",
                            "label": "ZamComp", "uri": "urn:zamaudio:ZamComp",
                            "lv2_path": "/usr/lib/lv2", "vst2": "/usr/lib/vst/ZamComp-vst.so",
                            "clap": "/usr/lib/clap/ZamComp.clap"})
        cases = []
        for plugin in plugins:
            for dpi in (96, 192):
                for kind in ("VST 2", "LV2", "CLAP"):
                    cases.append(Case("Qtractor", kind, dpi, "", plugin))
                    if dpi == 192:
                        cases.append(Case("Qtractor", kind, dpi, UNSCALED_QT, plugin))
                for kind in ("VST 2", "LV2"):
                    for setting in ("Ardour at 100 %", "Ardour at 200 %"):
                        cases.append(Case("Ardour", kind, dpi, setting, plugin))
        cases = [c for c in cases if only in c.label]
        # The VST 2 build's own picture at 1x and 2x, from kv23.
        references = {}
        x = subprocess.Popen([os.path.join(build, "tests/support/kv_private_x"), "--screen",
                              "1280x1024x24"], stdout=subprocess.PIPE, text=True)
        try:
            os.environ["DISPLAY"] = x.stdout.readline().split()[0]
            for factor in (1, 2):
                references[factor] = os.path.join(shots, "reference-%dx.png" % factor)
                subprocess.run([os.path.join(build, "host/kv23"), "snapshot", references[factor],
                                "--plugin", plugins[0]["vst2"], "--scale", str(factor)],
                               check=True, capture_output=True, timeout=30)
        finally:
            x.terminate()
            x.wait()
        failed = 0
        for case in cases:
            try:
                got = measure(case, build, shots, references)
                print("%-62s host window %-10s plug-in window %-10s panel %s" % (
                    case.label, got["host window"], got["plug-in window"], got["panel"]))
            except (Failure, subprocess.SubprocessError) as e:
                failed += 1
                print("%-62s FAILED: %s" % (case.label, e))
            sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
