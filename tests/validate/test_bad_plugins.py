#!/usr/bin/env python3
"""kv23 against plug-ins that do wrong: no crash, no silent hang, a sentence for each.

  test_bad_plugins.py KV23 BAD.clap HUGE_COUNTS.so NAN_OUTPUT.so STRING_OVERRUN.so OURS.clap

BAD.clap holds one plug-in per fault (tests/validate/bad_clap_plugin.cpp); the
three VST 2 files are the real effect with one fault each (broken_plugin.cpp).
Every command runs with a time limit; a command killed by a signal (a crash) or
by the limit (a hang without a word) fails the test, and so does one whose
standard error lacks the sentence that names the fault, or whose exit status is
0 where its result is unusable. The panel commands run on a private X server
(kv_private_x, from KV_PRIVATE_X).
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kv_test_support import Failure, check, write_stereo_test_wav  # noqa: E402

# id: (command, the words its output must hold, the exit status expected)
# for each command run on it; "validate" runs with --id and a short budget.
CLAP_CASES = {
    "null-desc": [("info", "clap_plugin.desc is null", 1),
                  ("validate", "FAIL  load.open", 1)],
    "null-plugin-function": [("info", "clap_plugin.reset is null", 1),
                             ("process", "clap_plugin.reset is null", 1)],
    "null-extension-function": [("info", "clap.params.get_value is null", 1),
                                ("validate", "clap.params.get_value is null", 1)],
    "garbage-extension": [("info", "clap.params.count points outside any loaded library", 1),
                          ("process", "garbage where a function belongs", 1),
                          ("gui", "garbage where a function belongs", 1),
                          ("validate", "garbage where a function belongs", 1)],
    "init-hangs": [("validate", "it hangs in clap_plugin.init", 1)],
    "huge-params": [("info", "params.count answers 4294967295", 1),
                    ("validate", "params.count answers 4294967295", 1)],
    "huge-channels": [("info", "input port 0 has 2147483647 channels", 1),
                      ("process", "input port 0 has 2147483647 channels", 1)],
    "endless-state": [("info", "state.save wrote more than 256 MiB", 1)],
    "nan-output": [("process", "samples that are not finite", 1),
                   ("validate --check processing.finite-output", "FAIL  processing.finite-output", 1)],
    "refuses-processing": [("process", "its start_processing answered false (activate had answered true)", 1)],
    "huge-size": [("gui", "gui.get_size answers 4294967295 x 4294967295", 1)],
    "short-events": [("process", "whose size says 16 bytes, less than the 56", 0),
                     ("gui", "whose size says 16 bytes, less than the 56", 1),
                     ("validate --check clap.activation-orders", "whose size says 16 bytes", 1)],
    "flood": [("process", "more than 65536 output events in one call", 0),
              ("gui", "more than 65536 output events in one call", 1)],
    "bad-descriptor": [("validate --check clap.descriptor",
                        "the descriptor has no name; the descriptor's features are null", 1)],
    # What CLAP allows, which kv23 must meet rather than fail.
    "side-chain": [("process", "", 0),
                   ("validate --check clap.activation-orders,processing.in-place", "2 passed, 0 failed", 0)],
    "no-text-reading": [("validate --check clap.parameter-texts", "read no text (allowed)", 0),
                        ("process --param Gain=loud", 'reads no value of Gain from "loud"', 2)],
    "reset-checks-thread": [("validate --check clap.activation-orders", "1 passed, 0 failed", 0)],
    "good": [("gui", "open 100 100", 0),
             ("validate --check clap.gui-refusals", "PASS  clap.gui-refusals", 0)],
}


def run(args, limit, env=None):
    try:
        result = subprocess.run(args, capture_output=True, text=True, timeout=limit, env=env)
    except subprocess.TimeoutExpired:
        raise Failure("%s hung for %d s without ending" % (" ".join(args), limit))
    check(result.returncode >= 0, "%s was killed by signal %d (a crash):\n%s%s" %
          (" ".join(args), -result.returncode, result.stdout, result.stderr))
    return result


def command_line(command, plugin, work, extra):
    words = command.split()
    if words[0] == "info":
        return [KV23, "info", "--plugin", plugin] + extra
    if words[0] == "process":
        return [KV23, "process", os.path.join(work, "in.wav"), os.path.join(work, "out.wav"),
                "--plugin", plugin] + words[1:] + extra
    if words[0] == "gui":
        return [PRIVATE_X, "--", KV23, "gui", "--close-after", "400", "--plugin", plugin] + extra
    display = [PRIVATE_X, "--"] if "gui" in command else []
    return display + [KV23, "validate", "--plugin", plugin, "--strictness", "1", "--tier", "hostile",
                      "--check-time", "20"] + words[1:] + extra


def expect(command, args, words, status, limit=40, env=None):
    result = run(args, limit, env)
    said = result.stdout + result.stderr
    check(words in said, "%s does not say %r:\n%s" % (" ".join(args), words, said))
    check(result.returncode == status, "%s exits %d, not %d:\n%s" %
          (" ".join(args), result.returncode, status, said))


def test_clap(bad, work):
    for name, cases in CLAP_CASES.items():
        for command, words, status in cases:
            expect(command, command_line(command, bad, work, ["--id", "kv23.bad." + name]), words, status)
        print("CLAP %s: %s" % (name, ", ".join(c[0].split()[0] for c in cases)))
    # A name that fills its field without a zero is printed within the field.
    out = run([KV23, "info", "--plugin", bad, "--id", "kv23.bad.unterminated-names"], 20).stdout
    row = next(line for line in out.splitlines() if "NNNN" in line)
    check(row.count("N") == 256 and "M" not in row, "the unterminated name prints as %r" % row)
    # Faults of the entry itself, which every plug-in of the file shares.
    env = dict(os.environ, KV_BAD_CLAP_ENTRY="init-hangs")
    expect("validate", command_line("validate", bad, work, []), "it hangs in clap_entry.init", 1, env=env)
    env = dict(os.environ, KV_BAD_CLAP_ENTRY="huge-count")
    expect("info", command_line("info", bad, work, []), "get_plugin_count answers 4294967295", 1, env=env)
    # No host asks for a descriptor past the count: only the hostile tier does.
    env = dict(os.environ, KV_BAD_CLAP_ENTRY="describes-past-count")
    args = command_line("validate --check clap.descriptor,clap.stray-factory-queries", bad, work,
                        ["--id", "kv23.bad.good"])
    expect("validate", args, "FAIL  clap.stray-factory-queries", 1, env=env)
    expect("validate", args + ["--tier", "every-host"], "PASS  clap.descriptor", 0, env=env)
    print("CLAP: names within their field; clap_entry.init hanging and a huge plug-in count named; "
          "a descriptor past the count judged in the hostile tier only")


def test_held_timer(bad, ours, work):
    """Our panel behind a timer call that holds the host for the whole drag,
    as a modal drag loop does: the gesture checks fail it, by the values that
    come only after the release and by the length of the timer call."""
    env = dict(os.environ, KV_BAD_CLAP_WRAP=ours)
    args = command_line("validate --check clap.gui-gesture,clap.gui-long-drag", bad, work,
                        ["--id", "kv23.bad.holds-timer"])
    result = run(args, 60, env)
    for words in ("FAIL  clap.gui-gesture ", "reached the host only after the button was let go",
                  "FAIL  clap.gui-long-drag ", "a timer call took"):
        check(words in result.stdout, "%r missing:\n%s%s" % (words, result.stdout, result.stderr))
    print("a panel that holds the timer call during a drag fails clap.gui-gesture and clap.gui-long-drag")


def test_every_plugin_of_a_file(bad, work):
    """Without --id every plug-in of the file is checked, under a line of its own."""
    result = run(command_line("validate --check clap.descriptor", bad, work, []), 60)
    headers = [line for line in result.stdout.splitlines() if line.startswith("== kv23.bad.")]
    check(len(headers) == len(CLAP_CASES) + 2 and headers[0].endswith("(1 of %d)" % len(headers)),
          "validate checked %d plug-ins of the file:\n%s" % (len(headers), result.stdout))
    failed_loads = result.stdout.count("FAIL  load.open")
    check(failed_loads == 8, "%d plug-ins failed to load, not 8:\n%s" % (failed_loads, result.stdout))
    print("validate: all %d plug-ins of one file checked, %d of them not loadable" %
          (len(headers), failed_loads))


def test_hang_warning(bad):
    """info on an init that never returns says so within seconds."""
    env = dict(os.environ, KV_BAD_CLAP_ENTRY="init-hangs")
    process = subprocess.Popen([KV23, "info", "--plugin", bad], stderr=subprocess.PIPE, text=True, env=env)
    try:
        line = process.stderr.readline()
    finally:
        process.kill()
        process.wait()
    check("has not returned from clap_entry.init" in line, "a hanging init is not told: %r" % line)
    print("info: a hanging clap_entry.init is told on standard error")


def test_vst2(huge_counts, nan_output, string_overrun, work):
    for command in ("info", "process", "validate"):
        expect(command, command_line(command, huge_counts, work, []),
               "record whose numParams is 2147483647", 1)
    expect("process", command_line("process", nan_output, work, ["--param", "0=1"]),
           "samples that are not finite", 1)
    out = run([KV23, "info", "--plugin", string_overrun], 20).stdout
    check("Pad One " in out and "Pad One B" not in out,
          "a parameter name past its 8 characters is printed past them:\n" + out)
    print("VST 2: absurd counts refused, NaN output refused, names cut at their limit")


def main(argv):
    global KV23, PRIVATE_X
    if len(argv) != 7:
        print(__doc__)
        return 2
    KV23, bad, huge_counts, nan_output, string_overrun, ours = (os.path.abspath(a) for a in argv[1:])
    PRIVATE_X = os.environ.get("KV_PRIVATE_X", "")
    if not os.access(PRIVATE_X, os.X_OK):
        for cases in CLAP_CASES.values():
            cases[:] = [c for c in cases if "gui" not in c[0]]
        print("no kv_private_x: the gui cases are skipped")
    try:
        with tempfile.TemporaryDirectory(prefix="kv23-bad-") as work:
            write_stereo_test_wav(os.path.join(work, "in.wav"), 48000, 4800)
            test_clap(bad, work)
            test_every_plugin_of_a_file(bad, work)
            if PRIVATE_X:
                test_held_timer(bad, ours, work)
            test_hang_warning(bad)
            test_vst2(huge_counts, nan_output, string_overrun, work)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
