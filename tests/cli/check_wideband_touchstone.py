#!/usr/bin/python3
"""Checks the Touchstone files of `kestrelix loss --length L --touchstone` with scikit-rf.

  /usr/bin/python3 tests/cli/check_wideband_touchstone.py build/app/kestrelix

The 100 mm FR-4-like pair with Huray bottoms, 1 to 40 GHz, of the section
options, and the inner-layer 100 ohm pair built as a structure on the
general solver (`--structure offset-stripline-pair`, Huray foil):
1. The single-ended file (Touchstone 1.0): scikit-rf reads a 4-port at the
   frequencies asked for; S is reciprocal (symmetric) and passive (no
   singular value above 1), and the pair's symmetry holds (S11 = S33,
   S21 = S43).
2. The mixed-mode file (Touchstone 2.0, read here as text: this scikit-rf
   forms no mixed modes): its sdd21, scc21, sdc21 and scd21 are those formed
   in numpy from scikit-rf's single-ended S, M S M^T with the differential
   waves (a1 - a3)/sqrt(2), (a2 - a4)/sqrt(2), within 1e-12; sdc21 and scd21
   below -200 dB.
3. The run's JSON rows: il_diff_db and il_comm_db are -20 log10 |sdd21| and
   |scc21| of the file, and the insertion loss of 100 mm lies within
   0.02 dB of the matched line's, 100 mm times alpha_diff (what the
   mismatch of Zdiff = 104 to 105 ohm to the 100-ohm ports adds: 0.001 to
   0.0065 dB).
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import skrf

PAIR = ["--units", "mm", "--h", "0.1", "--h2", "inf", "--w", "0.12", "--s", "0.15",
        "--t", "0.035", "--material", "fr4_like", "--conductor", "copper",
        "--roughness", "smooth", "--roughness-bottom", "huray:radius=0.5,spheres=14,side=5.8",
        "--f-range", "1:40:0.25", "--length", "100"]
INNER = ["--units", "mm", "--structure", "offset-stripline-pair", "--h", "0.15", "--h-above",
         "0.2", "--t", "0.035", "--w", "0.1", "--s", "0.2663", "--material", "fr4_like",
         "--roughness", "huray:radius=0.5,spheres=14,side=5.8", "--f-range", "1:40:0.25",
         "--length", "100"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(program, args):
    r = subprocess.run([program] + args, capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        sys.exit("kestrelix %s: status %d, %s" % (" ".join(args), r.returncode, r.stderr))
    return r.stdout


def mixed_mode_file(path):
    """Frequencies and 4 x 4 matrices of a Touchstone 2.0 mixed-mode file."""
    numbers, data = [], False
    with open(path) as f:
        for line in f:
            line = line.split("!")[0].strip()
            if line.startswith("[Network Data]"):
                data = True
            elif line.startswith("["):
                data = False
            elif data and line:
                numbers += [float(x) for x in line.split()]
    block = np.array(numbers).reshape(-1, 33)
    s = (block[:, 1::2] + 1j * block[:, 2::2]).reshape(-1, 4, 4)
    return block[:, 0], s


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for label, line in (("the pair", PAIR), ("the inner-layer structure", INNER)):
        check_line(sys.argv[1], label, line)
    if failures:
        sys.exit("%d checks failed" % len(failures))


def check_line(program, label, line):
    with tempfile.TemporaryDirectory() as work:
        single = os.path.join(work, "pair.s4p")
        mixed = os.path.join(work, "pair_mm.s4p")
        doc = json.loads(run(program, ["loss", "--format", "json", "--touchstone", single] + line))
        run(program, ["loss", "--format", "csv", "--touchstone", mixed, "--mixed-mode"] + line)
        net = skrf.Network(single)
        f_mm, smm = mixed_mode_file(mixed)

    expected_f = np.arange(1.0, 40.0001, 0.25) * 1e9
    check(net.nports == 4, "4 ports, got %d" % net.nports)
    check(np.allclose(net.f, expected_f, rtol=1e-12, atol=0), "frequencies as asked")
    check(np.allclose(f_mm, expected_f, rtol=1e-12, atol=0), "mixed-mode frequencies as asked")
    s = net.s
    check(np.max(np.abs(s - np.transpose(s, (0, 2, 1)))) < 1e-15, "S reciprocal")
    worst = max(np.linalg.svd(m, compute_uv=False)[0] for m in s)
    check(worst <= 1.0 + 1e-12, "S passive (largest singular value %.15g)" % worst)
    check(np.max(np.abs(s[:, 0, 0] - s[:, 2, 2])) < 1e-15, "S11 = S33")
    check(np.max(np.abs(s[:, 1, 0] - s[:, 3, 2])) < 1e-15, "S21 = S43")

    h = 1 / np.sqrt(2)
    m = np.array([[h, 0, -h, 0], [0, h, 0, -h], [h, 0, h, 0], [0, h, 0, h]])
    formed = np.einsum("ia,fab,jb->fij", m, s, m)
    for name, (i, j) in (("sdd21", (1, 0)), ("scc21", (3, 2)), ("sdc21", (1, 2)),
                         ("scd21", (3, 0))):
        err = np.max(np.abs(smm[:, i, j] - formed[:, i, j]))
        check(err < 1e-12, "%s of the mixed-mode file against numpy's (%.3g)" % (name, err))
    conversion = 20 * np.log10(np.max(np.abs(smm[:, 1, 2])) + 1e-300)
    check(conversion < -200, "sdc21 below -200 dB (%.1f dB)" % conversion)
    conversion = 20 * np.log10(np.max(np.abs(smm[:, 3, 0])) + 1e-300)
    check(conversion < -200, "scd21 below -200 dB (%.1f dB)" % conversion)

    rows = doc["rows"]
    il_diff = np.array([r["il_diff_db"] for r in rows])
    il_comm = np.array([r["il_comm_db"] for r in rows])
    alpha = np.array([r["alpha_diff_db_per_mm"] for r in rows])
    check(np.max(np.abs(il_diff + 20 * np.log10(np.abs(smm[:, 1, 0])))) < 1e-9,
          "il_diff_db is the file's sdd21")
    check(np.max(np.abs(il_comm + 20 * np.log10(np.abs(smm[:, 3, 2])))) < 1e-9,
          "il_comm_db is the file's scc21")
    check(np.max(np.abs(il_diff - 100 * alpha)) < 0.02,
          "100 mm of alpha_diff within 0.02 dB of il_diff")
    print("%s: single-ended and mixed-mode files of %d points: sdd21 at 40 GHz %.4f dB, "
          "largest |sdc21| %.1f dB" % (label, len(rows), -il_diff[-1], conversion))


if __name__ == "__main__":
    main()
