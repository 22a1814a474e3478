#!/usr/bin/env python3
"""Random and malformed command lines for kestrelix's scripted interface.

  python3 tools/stress_cli.py build/app/kestrelix [--runs 2000] [--seed 1]

Each run gets a random argument list: real subcommands and options with
good, boundary, malformed, huge and tiny values, missing values, repeated
and conflicting options, unknown words. Every run must end by itself with
status 0, 1 or 2; status 1 and 2 must come with a message on standard error,
status 0 with output; never a signal or a hang; the output never holds nan,
inf or -0; the defaults file is never changed, nor the materials and
stackup files beside it when the run reads them; and the run's working directory must hold afterwards only the
Touchstone, samples or W element file that was asked for (nothing when none was asked for or the run failed: no temporary
file either). File names include the defaults file by other spellings,
control bytes and a full device, which must be refused or fail with status 1.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

COMMANDS = ["analyse", "response", "dispersion", "sensitivity", "synthesise", "analyze",
            "synthesize", "tolerance", "diffpair", "check", "line", "line", "", "-x", "--help",
            "--version"]
# The wideband line: its subcommands, their loss options (also on analyse,
# dispersion and response) and the materials file every run finds beside
# the defaults file.
WIDEBAND_COMMANDS = ["rlgc", "loss", "rlgc", "loss"]
WIDEBAND = {"--material": ["fr4_like", "ptfe_like", "mine", "nosuch", ""],
            "--materials": ["m.json", "missing.json", "Kestrelix.DEF", "."],
            "--dk": ["4.3", "1", "0.5", "3.5"], "--df": ["0.02", "0", "0.9", "-1"],
            "--f-datasheet": ["1", "10", "0", "-1"],
            "--dielectric-model": ["djordjevic-sarkar", "constant", "debye"],
            "--conductor": ["copper", "gold", "mine_metal"],
            "--resistivity": ["1.7241", "0", "-1", "2.44"],
            "--roughness": ["smooth", "hammerstad-bekkadal:rq=1", "groisse:rq=0.4",
                            "huray:radius=0.5,spheres=14,side=5.8", "huray:radius=0.5",
                            "rough_foil", "mine_rough", "bumpy", "groisse:rq=-1",
                            "huray:radius=0.5,spheres=14,tile=87.4,matte=1.2", "smooth:rq=1"],
            "--roughness-top": ["smooth", "groisse:rq=0.3"],
            "--roughness-bottom": ["huray:radius=0.5,spheres=14,side=5.8", "mine_rough"],
            "--roughness-sides": ["hammerstad-bekkadal:rq=0.5", "x:y"],
            "--roughness-ground": ["smooth", "groisse:rq=2"],
            "--coat-tlos": ["0.02", "-1"],
            "--w-element": ["w.rlgc", "m.json", "Kestrelix.DEF", "/dev/full", "nodir/w.rlgc"],
            "--w-fit": ["10", "0", "1e-3"],
            "--mixed-mode": [None]}
MATERIALS_TEXT = """{"format": "kestrelix-materials", "version": 1,
 "dielectrics": [{"name": "mine", "dk": 3.2, "df": 0.004, "f_ghz": 10}],
 "conductors": [{"name": "mine_metal", "resistivity_ohm_m": 2.44e-8}],
 "roughness": [{"name": "mine_rough", "model": "groisse", "rq_um": 0.8}]}
"""
SECTION = {"--er": ["9.8", "3.66", "1", "0.5", "25", "2.2"],
           "--h": ["0.025", "0.02", "0.01", "20", "0"],
           "--h2": ["0.25", "0.05", "0.04", "250", "1", "inf"],
           "--w": ["0.02", "0.0343", "0.3", "0.00001", "34"],
           "--s": ["0.005", "0.0037", "0.5", "0.000001", "3.7"],
           "--t": ["0.0007", "0.0014", "0", "0.01", "1.4"],
           "--res": ["1.7", "0", "11.8"],
           "--sr": ["2.5", "0", "10"]}
OTHER = {"--f": ["2", "0", "2.4", "40", "400"],
         "--f-range": ["0.5:6:0.5", "1:4:0.1", "0:3:1", "1:1:1", "4:1:1", "0:1:0",
                       "1:2:1e-9", "1:2", "a:b:c", "1:2:3:4", "::", "0:20:0.5"],
         "--w-range": ["0.01:0.04:0.005", "0.01:0.02:0", "0.04:0.01:0.01", "0.01:0.5:0.1"],
         "--s-range": ["0.005:0.03:0.005", "0.001:0.01:0.001", "1:2"],
         "--length": ["0.6", "0", "-1", "100"],
         "--centre": ["2", "2.4", "0", "300"],
         "--center": ["2.4", "1"],
         "--zdiff": ["100", "90", "10", "0", "400"],
         "--zcomm": ["30", "25", "10"],
         "--static": [None],
         "--tol-w": ["0.001", "5%", "0"], "--tol-etch": ["0.0005", "2%"],
         "--tol-h": ["10%", "0.001"], "--samples": ["100", "0"],
         "--rs": ["50", "25", "0"], "--rl": ["50", "75", "-3"],
         "--tlos": ["0.0005", "0", "-1"],
         "--reference": ["50", "75", "0"],
         "--touchstone": ["c.s4p", "out.s4p", "nodir/x.s4p", "", ".", "Kestrelix.DEF",
                          "./Kestrelix.DEF", "a\nb.s4p", "\x1b[2Jc.s4p", "/dev/full"],
         "--samples-out": ["s.csv", "Kestrelix.DEF", "/dev/full", "nodir/s.csv", "c.s4p"],
         "--samples": ["10", "1000", "0", "100000000000"],
         "--zo": ["50", "25", "110", "0"],
         "--coupling": ["10", "6,10,20", "3", "25", "0", "10,,3", "-10"],
         "--coupling-range": ["6:20:2", "10:10:1", "20:6:9", "6:20:0", "6:20:1e-7"],
         "--zoe-range": ["90:60:5", "80:60:7", "60:90:5", "55:45:1"],
         "--mode": ["zoe", "zoo", "both", "odd"],
         "--units": ["in", "mil", "mm", "um", "ft"],
         "--format": ["table", "csv", "json", "xml", "touchstone"],
         "--defaults": ["Kestrelix.DEF", "missing.DEF", "."],
         "--no-radiation": [None],
         "--model": ["closed", "field", "field", "exact"],
         "--accuracy": ["standard", "fine", "coarse"],
         "--coat-thickness": ["0.001", "0", "-1", "0.04", "1e-30"],
         "--coat-er": ["3.5", "1", "0.5"],
         "--check": [None],
         "--t-range": ["0:0.002:0.001", "0.001:0.0005:0.001", "0:1:0"]}
# The board cross-sections of `line`: its own dimensions instead of SECTION.
BOARD = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples",
                     "six_layer.kicad_pcb")
STACKUP = ('{"unit": "mil", "layers": [{"thickness": 4, "er": 4.2}, {"thickness": 5.4, "er": 3.9}],'
           ' "top_plane": true, "conductors": [{"interface": 1, "centre": -4, "width": 4,'
           ' "thickness": 1.4}, {"interface": 1, "centre": 4, "width": 4, "thickness": 1.4},'
           ' {"interface": 1, "centre": 14, "width": 4, "thickness": 1.4}]}')
LINE = {"--structure": ["microstrip", "stripline", "stripline-pair", "offset-stripline", "gcpw",
                        "gcpw-pair", "embedded-microstrip-pair", "broadside-pair",
                        "microstrip-pair", "coax", ""],
        "--h": ["0.2", "0.1", "8", "0", "1e-9"],
        "--er": ["4.3", "3.66", "1", "0.5", "1e5"],
        "--w": ["0.15", "0.3", "5", "1e-7", "0"],
        "--s": ["0.15", "0.1", "0.0001"],
        "--t": ["0.035", "0", "0.5"]}
LINE_OTHER = {"--pair": [None], "--h-above": ["0.15", "0.01"], "--er-above": ["3.9", "1"],
              "--h-between": ["0.2", "0"], "--offset": ["0", "0.1", "-3"],
              "--ground-gap": ["0.15", "0.05", "0"], "--ground-width": ["0.5", "1e-6"],
              "--etch-factor": ["2.5", "0", "0.01"], "--top-w": ["0.1", "0.4"],
              "--mask-over-trace": ["0.02", "0", "0.3"], "--mask-er": ["3.5", "0.9"],
              "--mask-on-substrate": ["0.025"], "--mask-between": ["0.03"], "--tand": ["0.02"],
              "--z0": ["50", "5", "400", "0"], "--zdiff": ["90", "100", "1000"],
              "--zcomm": ["30", "10"], "--pitch": ["0.4", "0.01"],
              "--neighbour": ["0.3", "0.05", "100"], "--both-sides": [None], "--check": [None],
              "--accuracy": ["standard", "fine", "coarse"],
              "--stackup": ["board.json", "Kestrelix.DEF", "missing.json", ".", "/dev/zero"],
              "--kicad": [BOARD, BOARD, "Kestrelix.DEF", "/dev/zero", "."],
              "--layer": ["F.Cu", "In2.Cu", "B.Cu", "In3.Cu", "In9.Cu", ""],
              "--above": ["none", "In1.Cu", "B.Cu"], "--below": ["none", "In3.Cu"],
              "--interface": ["1", "2", "0", "x"],
              "--tol-h": ["5%", "0.01"], "--tol-er": ["2%", "0.1"], "--tol-w": ["0.01", "10%"],
              "--tol-s": ["0.01"], "--tol-etch": ["0.005", "1%"], "--tol-mask": ["10%"],
              "--samples": ["20", "0", "1000000000"], "--threads": ["1", "2", "x"],
              "--limit": ["z0=45:55", "zdiff=+-5", "zdiff=90:+-10%", "foo=1:2", "z0=9:1"],
              "--dist": ["uniform", "normal"], "--format": ["table", "csv", "json"]}
MALFORMED = ["abc", "", "1e99", "-1e99", "nan", "inf", "0x10", "1,5", "--", "-", "1e", " 2",
             "2 ", "\u00e9", "1e-50", "3.4e38"]
JUNK = ["--bogus", "-h", "extra", "--er=3", "--units", "--f-range=1:2:1", "--", "-v"]


def random_args(rng):
    args = []
    cmd = rng.choice(COMMANDS + WIDEBAND_COMMANDS)
    if cmd:
        args.append(cmd)
    if cmd == "line":
        return line_args(rng, args)
    if cmd in ("rlgc", "loss") and rng.random() < 0.4:
        return wide_board_args(rng, args)
    pool = list(SECTION.items())
    if rng.random() < 0.85:
        for name, values in pool:
            if rng.random() < 0.9:
                args += [name, rng.choice(values)]
    wide = cmd in ("rlgc", "loss") or rng.random() < 0.2
    for _ in range(rng.randint(0, 6) + (3 if wide else 0)):
        name, values = rng.choice(list(OTHER.items()) + pool +
                                  (list(WIDEBAND.items()) * 2 if wide else []))
        value = rng.choice(values)
        if value is None:
            args.append(name)
            continue
        if rng.random() < 0.15:
            value = rng.choice(MALFORMED)
        args += [name, value]
    if cmd == "tolerance" and "field" in args and "--samples" not in args:
        args += ["--samples", "300"]  # the solver on every sample: keep a run short
    if rng.random() < 0.1:
        args.insert(rng.randint(0, len(args)), rng.choice(JUNK))
    if rng.random() < 0.05 and args:
        del args[-1]  # an option left without its value
    return args


# What each structure needs, so that most random lines reach the solver.
NEEDS = {"microstrip": ["--h", "--er", "--w", "--t"],
         "stripline": ["--h", "--er", "--w", "--t"],
         "offset-stripline": ["--h", "--er", "--h-above", "--w", "--t"],
         "embedded-microstrip": ["--h", "--er", "--h-above", "--w", "--t"],
         "gcpw": ["--h", "--er", "--ground-gap", "--w", "--t"],
         "broadside-pair": ["--h", "--er", "--h-between", "--h-above", "--w", "--t"]}


def line_args(rng, args):
    pool = dict(LINE_OTHER, **LINE)
    return cross_section_args(rng, args, pool)


# rlgc and loss on a board cross-section: the structure options, the loss
# options and the frequencies (a structure's solve set is a dozen solutions:
# few frequencies keep a run short).
WIDE_BOARD = {"--f-range": ["1:40:13", "1:2:1", "0:1:1", "5:1:1"],
              "--length": ["100", "0", "1"], "--touchstone": ["c.s4p", "board.json", "x.s2p"],
              "--mixed-mode": [None], "--f-datasheet": ["1", "10", "0"],
              "--h2": ["1"], "--tlos": ["0.02"], "--dk": ["4.3"]}


def wide_board_args(rng, args):
    pool = dict(WIDEBAND, **WIDE_BOARD)
    pool.update(LINE)
    pool.update({k: v for k, v in LINE_OTHER.items()
                 if not k.startswith(("--tol-", "--z", "--neighbour", "--both", "--check",
                                      "--pitch", "--samples", "--threads", "--limit", "--dist"))})
    args = cross_section_args(rng, args, pool)
    if "--f-range" not in args and rng.random() < 0.9:
        args += ["--f-range", rng.choice(WIDE_BOARD["--f-range"][:2])]
    return args


def cross_section_args(rng, args, pool):
    source = rng.random()
    if source < 0.6:
        name = rng.choice(list(NEEDS))
        pair = name != "broadside-pair" and rng.random() < 0.5
        args += ["--structure", name + ("-pair" if pair else "")]
        for option in NEEDS[name] + (["--s"] if pair else []):
            if rng.random() < 0.95:
                args += [option, rng.choice(pool[option][:2])]
    elif source < 0.8:
        args += ["--kicad", BOARD, "--layer", rng.choice(LINE_OTHER["--layer"][:4]),
                 "--w", rng.choice(LINE["--w"][:2])]
        if rng.random() < 0.5:
            args += ["--pair", "--s", rng.choice(LINE["--s"][:2])]
    elif source < 0.9:
        args += ["--stackup", "board.json"] + (["--pair"] if rng.random() < 0.5 else [])
    args += ["--units", rng.choice(["mm", "mm", "mm", "mil", "um", "in"])]
    for _ in range(rng.randint(0, 4)):
        name, values = rng.choice(list(pool.items()))
        if name in args and rng.random() < 0.9:
            continue  # mostly new options: a repeated one is a usage error at once
        value = rng.choice(values)
        if value is None:
            args.append(name)
            continue
        if rng.random() < 0.1:
            value = rng.choice(MALFORMED)
        args += [name, value]
    if any(a.startswith("--tol-") or a in ("--limit", "--dist") for a in args) and \
            "--samples" not in args:
        args += ["--samples", "30"]  # every sample is a field solution: keep a run short
    if rng.random() < 0.1:
        args.insert(rng.randint(0, len(args)), rng.choice(JUNK))
    if rng.random() < 0.05 and args:
        del args[-1]
    return args


def one_run(program, args, defaults_text):
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "Kestrelix.DEF"), "w") as f:
            f.write(defaults_text)
        with open(os.path.join(work, "board.json"), "w") as f:
            f.write(STACKUP)
        with open(os.path.join(work, "m.json"), "w") as f:
            f.write(MATERIALS_TEXT)
        try:
            r = subprocess.run([program] + args, cwd=work, capture_output=True, timeout=20,
                               stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return "hang", None
        if r.returncode < 0:
            return "signal %d" % -r.returncode, None
        if r.returncode not in (0, 1, 2):
            return "status %d" % r.returncode, r.returncode
        if r.returncode != 0 and not r.stderr.strip():
            return "status %d without a message" % r.returncode, r.returncode
        if r.returncode == 0 and not r.stdout.strip():
            return "status 0 without output", r.returncode
        # CSV and JSON never carry nan, inf or -0.
        fmt = [args[i + 1] for i in range(len(args) - 1) if args[i] == "--format"]
        if fmt and fmt[-1] in ("csv", "json") and r.returncode in (0, 1):
            cells = r.stdout.decode("utf-8", "replace").lower().replace("\n", ",").split(",")
            cells = [c.strip().rstrip("]}").split(":")[-1].strip() for c in cells]
            if any(c in ("nan", "-nan", "inf", "-inf", "-0", "-0.0") for c in cells):
                return "nan, inf or -0 in the %s output" % fmt[-1], r.returncode
        with open(os.path.join(work, "Kestrelix.DEF")) as f:
            if f.read() != defaults_text:
                return "the defaults file was changed", r.returncode
        asked = set()
        for option in ("--touchstone", "--samples-out", "--w-element"):
            if option in args:
                i = len(args) - 1 - args[::-1].index(option)
                if i + 1 < len(args):
                    asked.add(args[i + 1])
        # The materials and stackup files are inputs when the run reads
        # them; a run that does not may write over them when asked to.
        for name, text, option in (("m.json", MATERIALS_TEXT, "--materials"),
                                   ("board.json", STACKUP, "--stackup")):
            read = any(args[i] == option and args[i + 1] == name for i in range(len(args) - 1))
            with open(os.path.join(work, name)) as f:
                if f.read() != text and (read or name not in asked or r.returncode != 0):
                    return "the input %s was changed" % name, r.returncode
        left = set(os.listdir(work)) - {"Kestrelix.DEF", "m.json", "board.json"}
        if left and (r.returncode != 0 or not left <= asked):
            return ("files left: %s (asked: %s, status %d)" % (sorted(left), sorted(asked),
                                                               r.returncode), r.returncode)
        return None, r.returncode


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("program")
    p.add_argument("--runs", type=int, default=2000)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--jobs", type=int, default=2)
    opt = p.parse_args()
    program = os.path.abspath(opt.program)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(root, "examples", "Kestrelix.DEF")) as f:
        defaults_text = f.read()
    rng = random.Random(opt.seed)
    runs = [random_args(rng) for _ in range(opt.runs)]
    failures = 0
    statuses = {}
    with ThreadPoolExecutor(max_workers=opt.jobs) as pool:
        for args, (fault, status) in zip(runs, pool.map(lambda a: one_run(program, a, defaults_text),
                                                         runs)):
            statuses[status] = statuses.get(status, 0) + 1
            if fault:
                failures += 1
                print("FAIL (%s): kestrelix %s" % (fault, " ".join(repr(a) for a in args)))
    mix = ", ".join("status %s: %d" % (k, v) for k, v in sorted(statuses.items(), key=str))
    print("%d command lines (%s), %d failures" % (opt.runs, mix, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
