#!/usr/bin/env python3
"""The plug-in as the scanners of two more Linux hosts see it.

  test_scanner.py qtractor PLUGIN
      Qtractor's scanner reads "VST:PATH" on standard input and prints one
      line VST|name|ins:outs|midi|params:programs|flags|path|index|id: it
      must show 2:2, 4 parameters and an editor (GUI).
  test_scanner.py qtractor-clap PLUGIN.clap
      The same scanner reads "CLAP:PATH" and prints a CLAP|... line of the
      same fields: 2:2, 5 parameters (the quality too) and a panel (GUI).
  test_scanner.py muse PLUGIN
      MusE's scanner writes an XML description of the plug-in: 2 audio
      inputs, 2 outputs and the four parameters by name.

Neither needs JACK or a display. Exits 77 (skipped) when the host is not
installed (scripts/setup.sh installs both).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
QTRACTOR_SCAN = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan"
MUSE_SCAN = shutil.which("muse_plugin_scan")


def fail(message):
    print("FAILED: " + message)
    return 1


def qtractor(plugin, home, kind="VST"):
    if not os.path.exists(QTRACTOR_SCAN):
        print("Qtractor is not installed: skipped")
        return SKIP
    result = subprocess.run([QTRACTOR_SCAN], input="%s:%s\n" % (kind, plugin), capture_output=True,
                            text=True, timeout=60, env=dict(os.environ, HOME=home))
    lines = [l for l in result.stdout.splitlines() if l.startswith(kind + "|")]
    if len(lines) != 1:
        return fail("no %s line from the scanner:\n%s%s" % (kind, result.stdout, result.stderr))
    fields = lines[0].split("|")
    if len(fields) < 9:
        return fail("short line: " + lines[0])
    _, name, audio, _, controls, flags, path, _, unique = fields[:9]
    checks = [
        (name == "KV23-T ZuDiz", "name " + name),
        (audio == "2:2", "inputs:outputs " + audio),
        # VST 2 has the model's four; CLAP adds the quality.
        (controls.split(":")[0] == ("4" if kind == "VST" else "5"), "parameters " + controls),
        (path == plugin, "path " + path),
        ("RT" in flags.split(","), "not real-time capable: " + flags),
        ("GUI" in flags.split(","), "no editor in the flags " + flags),
    ]
    if kind == "VST":
        checks.append((int(unique, 16) == 0x4B563233, "unique ID " + unique))
    for ok, what in checks:
        if not ok:
            return fail(what + " in " + lines[0])
    print("qtractor: " + lines[0])
    return 0


def muse(plugin, home):
    if MUSE_SCAN is None:
        print("MusE is not installed: skipped")
        return SKIP
    out = os.path.join(home, "scan.xml")
    open(out, "w").close()  # the scanner writes only into a file that exists
    result = subprocess.run([MUSE_SCAN, "-t", "255", "-f", plugin, "-o", out, "-p"],
                            capture_output=True, text=True, timeout=60,
                            env=dict(os.environ, HOME=home))
    try:
        found = ET.parse(out).getroot().find("plugin")
    except ET.ParseError as e:
        return fail("unreadable scan (%s):\n%s%s" % (e, result.stdout, result.stderr))
    if found is None:
        return fail("the scanner found no plug-in:\n" + result.stdout + result.stderr)
    ins, outs = found.findtext("inports"), found.findtext("outports")
    names = [p.get("name") for p in found.findall("port") if p.get("name")]
    if found.get("label") != "KV23-T ZuDiz" or found.findtext("maker") != "Harrow Quill":
        return fail("wrong identity: %s by %s" % (found.get("label"), found.findtext("maker")))
    if (ins, outs) != ("2", "2"):
        return fail("inputs %s, outputs %s" % (ins, outs))
    if names != ["Gain", "Pad 1", "Pad 2", "Volume"]:
        return fail("parameters %s" % names)
    print("muse: %s inputs, %s outputs, parameters %s" % (ins, outs, ", ".join(names)))
    return 0


def main(argv):
    if len(argv) != 3 or argv[1] not in ("qtractor", "qtractor-clap", "muse"):
        print(__doc__)
        return 2
    plugin = os.path.abspath(argv[2])
    with tempfile.TemporaryDirectory(prefix="kv23-scan-") as home:
        if argv[1] == "qtractor-clap":
            return qtractor(plugin, home, "CLAP")
        return (qtractor if argv[1] == "qtractor" else muse)(plugin, home)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
