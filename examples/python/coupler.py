#!/usr/bin/python3
"""The 10 dB, 50 ohm coupler from Python: synthesis, its four-port as a
scikit-rf Network, a line on its thru port, and a plot.

  PYTHONPATH=build/python /usr/bin/python3 examples/python/coupler.py coupler.png

(From an installed kestrelix, without PYTHONPATH.) Needs numpy, scikit-rf
and matplotlib (Debian: python3-numpy python3-scikit-rf python3-matplotlib).
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import skrf  # noqa: E402

import kestrelix as kx  # noqa: E402


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: coupler.py OUT.png")
    substrate = kx.Section(er=3.66, h=0.508, h2=6.35, t=0.035, units="mm")
    # W and S of the coupler at 2.4 GHz (the field solver, the default model).
    c = kx.synthesise(substrate, zo=50, coupling=10, f=2.4)
    section = substrate.replace(w=c["w"], s=c["s"])
    print("W %.4f mm, S %.4f mm, Zoe %.2f ohm, Zoo %.2f ohm"
          % (c["w"], c["s"], c["an_zoe"], c["an_zoo"]))
    # The quarter-wave coupler from 1 to 4 GHz as a 4-port Network
    # (ports: 1 input, 2 coupled, 3 isolated, 4 thru).
    coupler = kx.response(section, f=kx.sweep(1, 4, 0.01), centre=2.4)
    # A 50 ohm line of a quarter wave at 2.4 GHz (in air) on the thru port:
    # the thru's level is unchanged, its phase lags 90 degrees more there.
    air = skrf.media.DefinedGammaZ0(frequency=coupler.frequency, z0=50)
    line = air.line(299.792458 / 2.4 / 4, "mm")
    # connect() puts the line's far end where the thru port was (last).
    with_line = skrf.connect(coupler, 3, line, 0)
    with_line.name = "coupler + line"

    f = coupler.f / 1e9
    fig, (lv, ph) = plt.subplots(2, 1, figsize=(7, 6), dpi=90, sharex=True)
    for port, label in ((0, "S11 reflected"), (1, "S21 coupled"), (2, "S31 isolated"),
                        (3, "S41 thru")):
        lv.plot(f, 20 * np.log10(np.abs(coupler.s[:, port, 0])), label=label)
    lv.set_ylabel("|S| (dB)")
    lv.set_title("10 dB coupler, er 3.66, h 0.508 mm (kestrelix, field model)")
    lv.grid(True, alpha=0.4)
    lv.legend(loc="lower right", fontsize=8)
    def phase(s):
        return np.degrees(np.unwrap(np.angle(s)))

    ph.plot(f, phase(coupler.s[:, 3, 0]), label="S41 coupler")
    ph.plot(f, phase(with_line.s[:, 3, 0]), label="S41 with the line")
    ph.plot(f, phase(coupler.s[:, 1, 0]), label="S21 coupler")
    ph.set_xlabel("frequency (GHz)")
    ph.set_ylabel("phase (degrees)")
    ph.grid(True, alpha=0.4)
    ph.legend(loc="lower left", fontsize=8)
    fig.tight_layout()
    fig.savefig(sys.argv[1])


if __name__ == "__main__":
    main()
