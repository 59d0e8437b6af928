#!/usr/bin/env python3
"""kv23 as a CLAP host, against our CLAP plug-in and one built through DPF.

  test_kv23_clap.py KV23 OURS.clap OURS_VST2.so DPF_GAIN.clap [DPF_UI.clap]

- kv23 info reads both CLAP plug-ins: descriptor, ports, parameters.
- kv23 process through our CLAP build gives the VST 2 build's samples, bit for
  bit, for the same settings (by name, by id, and through the named options).
- An automation step at frame 100 of a 512-frame block changes the CLAP
  build's output from frame 100 on and not before; the VST 2 build, which
  reads its parameters once a block, changes from the block's start.
- DPF's gain renders its input times its gain in dB, with the gain set by
  name; an automation step reaches it too.
- kv23 validate's clap group passes every check on our plug-in and fails
  DPF's exactly on the checks docs/validator-findings.md lists for it; the
  same for DPF's gain with a cairo panel, whose panel checks run on a private
  X server (kv_private_x, from KV_PRIVATE_X or the build's tests/support).
- kv23 snapshot of the CLAP panel (parameters set through params.flush, the
  LED lit by an over) equals the VST 2 editor's picture for the same
  settings pixel for pixel outside the two decibel fields, at 1x and at 2x.
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import Failure, check, read_png, read_wav, write_stereo_test_wav  # noqa: E402

RATE = 48000


def kv23(*args):
    result = subprocess.run([KV23] + list(args), capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "kv23 %s failed:\n%s%s" % (" ".join(args), result.stdout, result.stderr))
    return result.stdout


def render(work, name, plugin, *options):
    out = os.path.join(work, name + ".wav")
    kv23("process", os.path.join(work, "in.wav"), out, "--plugin", plugin, *options)
    return read_wav(out)[2]


def first_difference(a, b):
    """The first frame at which any channel differs, or None."""
    found = [next((i for i, (x, y) in enumerate(zip(ca, cb)) if x != y), None) for ca, cb in zip(a, b)]
    found = [i for i in found if i is not None]
    return min(found) if found else None


def test_info(ours, dpf):
    text = kv23("info", "--plugin", ours)
    for line in ("Id              com.harrowquill.kv23-t-zudiz", "Inputs          2", "Outputs         2",
                 "Parameters      5", "Features        audio-effect, distortion, stereo"):
        check(line in text, "kv23 info of our CLAP plug-in lacks %r:\n%s" % (line, text))
    text = kv23("info", "--plugin", dpf)
    for line in ("Name            DPF Gain Fixture", "Inputs          2", "Parameters      1"):
        check(line in text, "kv23 info of DPF's plug-in lacks %r:\n%s" % (line, text))
    print("info: both CLAP plug-ins described")


def test_same_samples(work, ours, vst):
    cases = [
        (["--gain", "-3.5", "--pad2", "--volume", "6"], ["--gain", "-3.5", "--pad2", "--volume", "6"]),
        (["--param", "Gain=17.25", "--param", "1=1", "--param", "Volume=-4.5"],
         ["--gain", "17.25", "--pad1", "--volume", "-4.5"]),
        (["--param", "Gain=24", "--param", "Pad 1=1", "--param", "Pad 2=1", "--block", "37"],
         ["--gain", "24", "--pad1", "--pad2", "--block", "37"]),
        # Values as the plug-in writes them, read back through text_to_value.
        (["--param", "Gain=17.25 dB", "--param", "Volume=-4.50 dB"], ["--gain", "17.25", "--volume", "-4.5"]),
    ]
    for n, (clap_options, vst_options) in enumerate(cases):
        a = render(work, "clap-%d" % n, ours, *clap_options)
        b = render(work, "vst-%d" % n, vst, *vst_options)
        check(a == b, "CLAP and VST 2 differ for %s (first at frame %s)" % (clap_options, first_difference(a, b)))
    print("process: %d settings give the VST 2 build's samples through CLAP, bit for bit" % len(cases))


def test_sample_accuracy(work, ours, vst):
    with open(os.path.join(work, "clap.auto"), "w") as f:
        f.write("# volume up at frame 100 of the first block\n100 Volume 12\n")
    with open(os.path.join(work, "vst.auto"), "w") as f:
        f.write("100 3 0.6875\n")  # the same +12 dB as a normalised value
    plain = render(work, "clap-plain", ours)
    stepped = render(work, "clap-step", ours, "--automation", os.path.join(work, "clap.auto"))
    check(first_difference(plain, stepped) == 100,
          "the CLAP step took effect at frame %s, not 100" % first_difference(plain, stepped))
    vst_plain = render(work, "vst-plain", vst)
    vst_stepped = render(work, "vst-step", vst, "--automation", os.path.join(work, "vst.auto"))
    check(first_difference(vst_plain, vst_stepped) == 0,
          "the VST 2 step took effect at frame %s, not at the block's start" % first_difference(vst_plain, vst_stepped))
    vst_double = render(work, "vst-step64", vst, "--double", "--automation", os.path.join(work, "vst.auto"))
    check(first_difference(render(work, "vst-plain64", vst, "--double"), vst_double) == 0,
          "with --double the VST 2 step was not applied at the block's start")
    print("automation: CLAP changes at frame 100, VST 2 at the block's start (frame 0)")


def test_dpf(work, dpf):
    source = read_wav(os.path.join(work, "in.wav"))[2]
    out = render(work, "dpf", dpf, "--param", "Gain=-6")
    gain = 10 ** (-6 / 20)
    worst = max(abs(x * gain - y) for cin, cout in zip(source, out) for x, y in zip(cin, cout))
    check(worst < 1e-6, "DPF's gain at -6 dB is off by %g" % worst)
    with open(os.path.join(work, "dpf.auto"), "w") as f:
        f.write("1000 0 -12\n")
    stepped = render(work, "dpf-step", dpf, "--automation", os.path.join(work, "dpf.auto"))
    plain = render(work, "dpf-plain", dpf)
    at = first_difference(plain, stepped)
    check(at is not None, "DPF's plug-in ignored the automation")
    print("DPF: its gain renders as set by name (error %.2g); an automation step at 1000 shows from %d" %
          (worst, at))


PRIVATE_X = os.environ.get("KV_PRIVATE_X") or os.path.join(os.getcwd(), "..", "support", "kv_private_x")


def failed_checks(plugin, on_display=False):
    command = [KV23, "validate", "--plugin", plugin, "--strictness", "9"]
    if on_display:
        command = [PRIVATE_X, "--screen", "1280x1024x24", "--"] + command
    result = subprocess.run(command, capture_output=True, text=True, timeout=300)
    lines = result.stdout.splitlines()
    check(lines and re.match(r"\d+ passed, \d+ failed", lines[-1]),
          "kv23 validate gave no count:\n" + result.stdout + result.stderr)
    return sorted(line.split()[1] for line in lines if line.startswith("FAIL ")), lines[-1]


def listed_failures(name):
    """The checks docs/validator-findings.md lists as failing for `name`."""
    doc = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "validator-findings.md")
    with open(doc) as f:
        rows = [line.split("|") for line in f if line.startswith("| " + name + " |")]
    return sorted(row[2].strip() for row in rows)


def test_validate(ours, dpf, dpf_ui, which=("ours", "dpf-gain", "dpf-ui")):
    if "ours" in which:
        failed, summary = failed_checks(ours)
        check(not failed, "our CLAP plug-in fails %s (%s)" % (failed, summary))
        print("validate: our CLAP plug-in: %s" % summary)
    if "dpf-gain" in which and os.path.exists(dpf):
        failed, summary = failed_checks(dpf)
        listed = listed_failures("dpf-gain-fixture")
        check(failed == listed, "DPF's plug-in fails %s; the findings list %s" % (failed, listed))
        print("validate: DPF's plug-in: %s, each failure listed in the findings" % summary)
    if "dpf-ui" not in which:
        return
    if dpf_ui and os.path.exists(dpf_ui) and os.access(PRIVATE_X, os.X_OK):
        failed, summary = failed_checks(dpf_ui, on_display=True)
        listed = listed_failures("dpf-ui-fixture")
        check(failed == listed, "DPF's plug-in with a panel fails %s; the findings list %s" % (failed, listed))
        print("validate: DPF's plug-in with a panel, on a display: %s, each failure listed" % summary)
    else:
        print("DPF's fixture with a panel or kv_private_x is missing: its checks are skipped")


# The panel's two decibel fields, in panel units: each format writes its own.
FIELDS = [(30, 174, 60, 188), (30, 314, 60, 328)]


def test_snapshot(work, ours, vst):
    for scale in (1, 2):
        clap_png, vst_png = os.path.join(work, "clap-%d.png" % scale), os.path.join(work, "vst-%d.png" % scale)
        env = dict(os.environ)
        env.pop("DISPLAY", None)  # kv23 starts a private Xvfb for each
        for out, plugin, params in ((clap_png, ours, ["Gain=12", "Pad 2=1", "Volume=-6"]),
                                    (vst_png, vst, ["0=0.625", "2=1", "3=0.40625"])):
            args = [KV23, "snapshot", out, "--plugin", plugin, "--scale", str(scale), "--over"]
            for p in params:
                args += ["--param", p]
            result = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
            check(result.returncode == 0, "%s failed:\n%s%s" % (" ".join(args), result.stdout, result.stderr))
        (cw, ch, a), (vw, vh, b) = read_png(clap_png), read_png(vst_png)
        check((cw, ch) == (vw, vh) == (240 * scale, 400 * scale),
              "at %dx the CLAP panel is %d x %d, the VST 2 editor %d x %d" % (scale, cw, ch, vw, vh))
        in_field = lambda x, y: any(l * scale <= x < r * scale and t * scale <= y < bt * scale
                                    for l, t, r, bt in FIELDS)
        differ = [(x, y) for y in range(ch) for x in range(cw) if a[y][x] != b[y][x] and not in_field(x, y)]
        check(not differ, "at %dx the CLAP panel differs from the VST 2 editor at %d pixels, first %s" %
              (scale, len(differ), differ[:1]))
    print("snapshot: the CLAP panel is the VST 2 editor's picture outside the fields, at 1x and 2x")


def main(argv):
    global KV23
    if len(argv) not in (5, 6):
        print(__doc__)
        return 2
    KV23, ours, vst, dpf = (os.path.abspath(a) for a in argv[1:5])
    dpf_ui = os.path.abspath(argv[5]) if len(argv) == 6 else None
    try:
        with tempfile.TemporaryDirectory(prefix="kv23-clap-") as work:
            write_stereo_test_wav(os.path.join(work, "in.wav"), RATE, RATE // 4)
            # The suite runs the validator's part and the rest as two tests.
            part = os.environ.get("KV_TEST_PART", "all")
            if part == "all":
                test_validate(ours, dpf, dpf_ui)
            elif part.startswith("validate-"):
                test_validate(ours, dpf, dpf_ui, which=(part[len("validate-"):],))
            if part in ("all", "render"):
                test_info(ours, dpf)
                test_same_samples(work, ours, vst)
                test_sample_accuracy(work, ours, vst)
                test_snapshot(work, ours, vst)
                if os.path.exists(dpf):
                    test_dpf(work, dpf)
                else:
                    print("DPF's fixture was not built (dpf-source missing): its checks are skipped")
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
