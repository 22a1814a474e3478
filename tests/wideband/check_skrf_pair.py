#!/usr/bin/python3
"""Cross-checks the wideband pair's transmission-line algebra with scikit-rf.

  /usr/bin/python3 tests/wideband/check_skrf_pair.py build/tests/kx_wideband_figures

1. The 100 mm FR-4-like pair's four-port (Touchstone 1.0, ports 1, 2 strip 1
   near and far, 3, 4 strip 2): scikit-rf reads it as a 4-port at the
   frequencies printed, and its differential insertion loss formed here from
   the single-ended S, sdd21 = (S21 - S23 - S41 + S43) / 2, is the program's
   mixed-mode sdd21 within 1e-9 dB.
2. That sdd21 from 1 to 40 GHz lies within 0.1 dB of scikit-rf's line of the
   same differential impedance, odd-mode effective permittivity and loss
   tangent (its Djordjevic-Svensson dielectric fitted at the same frequency
   and poles) and conductor attenuation A sqrt(f), between 100-ohm ports.
   This checks the line algebra (modal S-parameters, mixed modes), not the
   physics: both lines carry the program's own parameters.
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import skrf
from skrf.media.definedAEpTandZ0 import DefinedAEpTandZ0

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(program, what):
    r = subprocess.run([program, what], capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        sys.exit("%s %s: status %d, %s" % (program, what, r.returncode, r.stderr))
    return r.stdout


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = sys.argv[1]
    pair = json.loads(run(program, "pair-json"))
    f = np.array(pair["f_hz"])
    sdd21_db = np.array(pair["sdd21_db"])

    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "pair.s4p")
        with open(path, "w") as out:
            out.write(run(program, "pair-s4p"))
        net = skrf.Network(path)
    check(net.nports == 4, "4 ports, got %d" % net.nports)
    check(np.allclose(net.f, f, rtol=1e-12, atol=0), "frequencies as printed")
    s = net.s
    sdd21 = (s[:, 1, 0] - s[:, 1, 2] - s[:, 3, 0] + s[:, 3, 2]) / 2
    err = np.max(np.abs(20 * np.log10(np.abs(sdd21)) - sdd21_db))
    check(err < 1e-9, "sdd21 from the Touchstone file within 1e-9 dB (%.3g)" % err)

    freq = skrf.Frequency.from_f(f, unit="hz")
    media = DefinedAEpTandZ0(frequency=freq, z0=2 * pair["z_ref_ohm"],
                             A=pair["a_c_db_per_m_sqrt_hz"], f_A=1.0,
                             ep_r=pair["eff_o"], tanD=pair["tand_o"], Z0=pair["zdiff_ohm"],
                             f_low=pair["f_low_hz"], f_high=pair["f_high_hz"],
                             f_ep=pair["f_data_hz"], model="djordjevicsvensson")
    line = media.line(pair["length_m"], "m", z0=pair["zdiff_ohm"], embed=True)
    skrf_db = 20 * np.log10(np.abs(line.s[:, 1, 0]))
    diff = np.abs(skrf_db - sdd21_db)
    worst = int(np.argmax(diff))
    print("differential insertion loss at 40 GHz: %.3f dB (program), %.3f dB (scikit-rf); "
          "largest difference %.4f dB at %.2f GHz"
          % (-sdd21_db[-1], -skrf_db[-1], diff[worst], f[worst] / 1e9))
    check(diff[worst] < 0.1, "sdd21 within 0.1 dB of scikit-rf's line (%.4f dB)" % diff[worst])

    if failures:
        sys.exit("%d check(s) failed" % len(failures))
    print("check_skrf_pair: all checks passed")


if __name__ == "__main__":
    main()
