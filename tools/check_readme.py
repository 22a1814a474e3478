#!/usr/bin/env python3
"""Runs the README's example command lines as written and confirms their
answers on the field solver's direct solution.

    tools/check_readme.py build/app/kestrelix [README.md]

Every `kestrelix SUBCOMMAND ...` line of the README's indented code blocks
(with its continuation lines) runs in a scratch folder, once as written (it
must succeed, and every output line the README shows after it must appear in
what it prints) and once with --format json. Then:

- synthesise: each row's W and S, analysed again by `analyse --method
  direct` at --f, give Zo within 0.05 ohm and the coupling within 0.01 dB of
  the target;
- diffpair: the pair found gives Zdiff within 0.05 ohm (Zcomm within
  0.025 ohm when it is a target) on the direct solution;
- response, tolerance, check (a coupler given by W and S): the section
  analysed directly at --f (or the centre) is the README's 50 ohm, 10 dB
  coupler within the same numbers; the tolerance run's nominal Zo and
  coupling and the check's field Zoe and Zoo agree with the direct solution
  within them;
- analyse, dispersion, sensitivity: run and succeed.

Exit status 0 when every example is confirmed, 1 otherwise.
"""
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

ZO_TOL = 0.05  # ohm
DB_TOL = 0.01  # dB
TARGET_ZO = 50.0  # the README's coupler
TARGET_DB = 10.0

failures = []


def fail(what):
    failures.append(what)
    print("FAIL " + what)


def examples(readme):
    """(command words, the output lines shown after it) of every example."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found = []
    k = 0
    while k < len(lines):
        line = lines[k]
        if line.startswith("    kestrelix "):
            text = line.strip()
            while text.endswith("\\"):
                k += 1
                text = text[:-1] + " " + lines[k].strip()
            shown = []
            j = k + 1
            # The output lines of the same block (after one blank line).
            if j < len(lines) and lines[j] == "":
                j += 1
                while j < len(lines) and lines[j].startswith("    ") and \
                        not lines[j].startswith("    kestrelix "):
                    shown.append(lines[j][4:].rstrip())
                    j += 1
            found.append((shlex.split(text)[1:], shown))
        k += 1
    return found


def option(args, name, default=None):
    value = default
    for k, a in enumerate(args):
        if a == name and k + 1 < len(args):
            value = args[k + 1]
        elif a.startswith(name + "="):
            value = a.split("=", 1)[1]
    return value


def run(program, args, cwd):
    r = subprocess.run([program] + args, cwd=cwd, capture_output=True, text=True, timeout=600)
    return r.returncode, r.stdout, r.stderr


def as_json(program, args, cwd):
    status, out, err = run(program, args + ["--format", "json"], cwd)
    if status != 0:
        fail(" ".join(args[:1]) + " --format json: status %d: %s" % (status, err.strip()))
        return None
    return json.loads(out)


# The section options of an example (everything but the subcommand's own).
SECTION = ["--er", "--h", "--h2", "--t", "--units", "--res", "--sr", "--coat-thickness",
           "--coat-er", "--accuracy"]


def section_of(args):
    out = []
    for name in SECTION:
        v = option(args, name)
        if v is not None:
            out += [name, v]
    return out


def direct(program, args, w, s, f, cwd):
    """The direct solution's row of W and S at f (strings as the JSON gives them)."""
    doc = as_json(program, ["analyse"] + section_of(args) +
                  ["--w", w, "--s", s, "--f", f, "--method", "direct"], cwd)
    return doc["rows"][0] if doc else None


def near(what, got, want, tol):
    if not abs(got - want) <= tol:
        fail("%s: %.4f, want %.4f within %g" % (what, got, want, tol))
        return False
    return True


def confirm(program, args, shown, cwd):
    cmd = args[0]
    status, out, err = run(program, args, cwd)
    label = " ".join(args[:1])
    if status != 0:
        fail("%s as written: status %d: %s" % (label, status, err.strip()))
        return
    for line in shown:
        if line.strip() and line not in out.split("\n"):
            fail("%s: the README shows a line the program does not print: %r" % (label, line))
    if option(args, "--format") == "touchstone":
        return
    units = option(args, "--units", "in")
    # The JSON run writes no files (the run as written did).
    quiet = []
    skip = False
    for a in args:
        if skip:
            skip = False
        elif a in ("--touchstone", "--samples-out"):
            skip = True
        elif a == "--mixed-mode":  # the form of a file it does not write
            continue
        elif not a.startswith(("--touchstone=", "--samples-out=")):
            quiet.append(a)
    doc = as_json(program, quiet, cwd)
    if doc is None:
        return
    f = option(args, "--f", option(args, "--centre", "0"))
    if cmd == "synthesise":
        for row in doc["rows"]:
            d = direct(program, args, json.dumps(row["w_" + units]), json.dumps(row["s_" + units]),
                       f, cwd)
            if d is None:
                continue
            ok = near("synthesise Zo (direct)", d["zo_ohm"], row["zo_ohm"], ZO_TOL)
            ok = near("synthesise coupling (direct)", d["coupling_db"], row["coupling_db"],
                      DB_TOL) and ok
            if ok:
                print("ok   synthesise: W %s S %s %s: Zo %.3f ohm, %.3f dB on the direct solution"
                      % (row["w_" + units], row["s_" + units], units, d["zo_ohm"],
                         d["coupling_db"]))
    elif cmd == "diffpair":
        row = doc["rows"][0]
        d = direct(program, args, json.dumps(row["w_" + units]), json.dumps(row["s_" + units]),
                   option(args, "--f", "0"), cwd)
        if d is None:
            return
        ok = True
        if option(args, "--zdiff") is not None:
            ok = near("diffpair Zdiff (direct)", 2 * d["zoo_ohm"], float(option(args, "--zdiff")),
                      ZO_TOL)
        if option(args, "--zcomm") is not None:
            ok = near("diffpair Zcomm (direct)", d["zoe_ohm"] / 2, float(option(args, "--zcomm")),
                      ZO_TOL / 2) and ok
        if ok:
            print("ok   diffpair: W %s S %s %s: Zdiff %.3f ohm on the direct solution"
                  % (row["w_" + units], row["s_" + units], units, 2 * d["zoo_ohm"]))
    elif cmd in ("response", "tolerance", "check") and option(args, "--w") is not None:
        d = direct(program, args, option(args, "--w"), option(args, "--s"), f, cwd)
        if d is None:
            return
        ok = near(cmd + ": the section's Zo (direct)", d["zo_ohm"], TARGET_ZO, ZO_TOL)
        ok = near(cmd + ": the section's coupling (direct)", d["coupling_db"], TARGET_DB,
                  DB_TOL) and ok
        if cmd == "tolerance":
            nominal = {r["figure"]: r["nominal"] for r in doc["rows"] if r["kind"] == "figure"}
            ok = near("tolerance nominal Zo", nominal["zo"], d["zo_ohm"], ZO_TOL) and ok
            ok = near("tolerance nominal coupling", nominal["coupling_db"], d["coupling_db"],
                      DB_TOL) and ok
        if cmd == "check":
            field = {r["quantity"]: r["field"] for r in doc["rows"]}
            ok = near("check field Zoe", field["zoe_ohm"], d["zoe_ohm"], ZO_TOL) and ok
            ok = near("check field Zoo", field["zoo_ohm"], d["zoo_ohm"], ZO_TOL) and ok
        if ok:
            print("ok   %s: the section is %.3f ohm, %.3f dB on the direct solution"
                  % (cmd, d["zo_ohm"], d["coupling_db"]))
    else:
        print("ok   %s ran" % cmd)


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip().split("\n\n")[1])
        return 2
    program = os.path.abspath(sys.argv[1])
    readme = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "README.md")
    found = examples(readme)
    if not found:
        fail("no example command lines in " + readme)
    with tempfile.TemporaryDirectory() as cwd:
        # The examples' files (a board, a defaults file) where the README names them.
        shutil.copytree(os.path.join(os.path.dirname(os.path.abspath(readme)), "examples"),
                        os.path.join(cwd, "examples"))
        for args, shown in found:
            confirm(program, args, shown, cwd)
    print("%d examples, %d failures" % (len(found), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
