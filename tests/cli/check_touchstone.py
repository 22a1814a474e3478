#!/usr/bin/python3
"""Checks the Touchstone file of `kestrelix response --touchstone` with scikit-rf.

  /usr/bin/python3 tests/cli/check_touchstone.py build/app/kestrelix

1. A lossless coupler (RES 0, SR 0, DLTAN 0 and --no-radiation, which leaves
   out the radiation loss of the open pair, the one loss left at f > 0):
   scikit-rf loads the file as a 4-port at the frequencies asked for, S is
   symmetric and unitary within 1e-5.
2. The example defaults file's coupler (losses on, Rs = Rl = 50 ohms = the
   reference), computed with the closed forms as the dialogue computes
   them: |S11|, |S21|, |S31|, |S41| in dB agree with the dialogue's
   FORMAT 1 report at every frequency within the report's printed precision.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
import skrf

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLE_DEF = os.path.join(ROOT, "examples", "Kestrelix.DEF")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(program, args, cwd, stdin=None):
    return subprocess.run([program] + args, cwd=cwd, input=stdin, capture_output=True,
                          text=True, timeout=60)


def lossless(program, work):
    path = os.path.join(work, "lossless.s4p")
    r = run(program, ["response", "--er", "3.66", "--h", "0.02", "--h2", "0.25",
                      "--w", "0.0343", "--s", "0.0037", "--t", "0.0014",
                      "--res", "0", "--sr", "0", "--tlos", "0", "--no-radiation",
                      "--centre", "2.4", "--f-range", "0.5:4:0.5",
                      "--touchstone", path, "--format", "csv"], work)
    check(r.returncode == 0, "lossless run: status %d, %s" % (r.returncode, r.stderr))
    net = skrf.Network(path)
    check(net.nports == 4, "lossless: 4 ports, got %d" % net.nports)
    expected_f = np.arange(0.5, 4.0001, 0.5) * 1e9
    check(np.allclose(net.f, expected_f, rtol=1e-6), "lossless: frequencies %s" % net.f)
    s = net.s
    check(np.max(np.abs(s - np.transpose(s, (0, 2, 1)))) == 0.0, "lossless: S symmetric")
    err = max(np.max(np.abs(m.conj().T @ m - np.eye(4))) for m in s)
    check(err < 1e-5, "lossless: unitary within 1e-5 (deviation %.3g)" % err)


def report_rows(text):
    """FORMAT 1 rows of the report: frequency and the four amplitudes."""
    rows = {}
    inside = False
    for line in text.splitlines():
        if line.startswith("      ---") and len(line.strip()) == 71:
            inside = True
            continue
        if inside:
            fields = line.split()
            if len(fields) != 9:
                break
            v = [float(x) for x in fields]
            rows[round(v[0], 4)] = (v[1], v[3], v[5], v[7])
    return rows


def against_report(program, work):
    d = os.path.join(work, "dialogue")
    os.mkdir(d)
    with open(EXAMPLE_DEF) as src, open(os.path.join(d, "Kestrelix.DEF"), "w") as dst:
        dst.write(src.read())
    # FUNCTION 1, OPTION 2, SUBOPTION 1, length entered; every value from the
    # file (L 0.6 in, 0.5 to 6 GHz by 0.5, Rs = Rl = 50); FORMAT 1.
    answers = "1\n2\n1\n1\n" + "\n" * 13 + "\n\n1\n\n3\n"
    r = run(program, [], d, answers)
    check(r.returncode == 0, "dialogue: status %d" % r.returncode)
    rows = report_rows(r.stdout)
    check(len(rows) == 12, "dialogue: 12 FORMAT 1 rows, got %d" % len(rows))

    path = os.path.join(work, "example.s4p")
    r = run(program, ["response", "--defaults", os.path.join(d, "Kestrelix.DEF"),
                      "--model", "closed", "--touchstone", path, "--format", "csv"], work)
    check(r.returncode == 0, "example run: status %d, %s" % (r.returncode, r.stderr))
    net = skrf.Network(path)
    decimals = (1, 3, 1, 3)  # F7.1, F9.3, F7.1, F9.3
    for k, f in enumerate(net.f / 1e9):
        printed = rows.get(round(f, 4))
        check(printed is not None, "example: %.4f GHz in the report" % f)
        if printed is None:
            continue
        for port in range(4):
            db = 20 * np.log10(abs(net.s[k, port, 0]))
            tol = 0.5 * 10 ** -decimals[port] + 1e-4
            check(abs(db - printed[port]) <= tol,
                  "example: |S%d1| at %.4f GHz: %.5f dB, report %.*f" %
                  (port + 1, f, db, decimals[port], printed[port]))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_touchstone.py PATH/TO/kestrelix")
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        lossless(program, work)
        against_report(program, work)
    if failures:
        sys.exit("%d Touchstone check(s) failed" % len(failures))
    print("Touchstone checks passed")


if __name__ == "__main__":
    main()
