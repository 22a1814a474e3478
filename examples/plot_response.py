#!/usr/bin/python3
"""Plots a coupler's Touchstone file written by `kestrelix response --touchstone`.

  /usr/bin/python3 examples/plot_response.py c.s4p c.png

Return loss (S11), coupling (S21), isolation (S31) and thru (S41) in dB
against frequency, port 1 driven (port map of the reports: 1 input,
2 coupled, 3 isolated, 4 thru). Needs scikit-rf and matplotlib (Debian:
python3-scikit-rf python3-matplotlib).
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import skrf  # noqa: E402


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: plot_response.py FILE.s4p OUT.png")
    net = skrf.Network(sys.argv[1])
    if net.nports != 4:
        sys.exit("%s: a 4-port file is needed, this one has %d ports" % (sys.argv[1], net.nports))
    f = net.f / 1e9
    fig, ax = plt.subplots(figsize=(7, 4.2), dpi=90)
    # 20 log10 |S|: the negative levels they are (not the positive losses).
    for port, label in ((0, "S11 reflected"), (1, "S21 coupled"),
                        (2, "S31 isolated"), (3, "S41 thru")):
        ax.plot(f, 20 * np.log10(np.abs(net.s[:, port, 0])), label=label)
    ax.set_xlabel("frequency (GHz)")
    ax.set_ylabel("|S| (dB)")
    ax.set_title(net.name)
    ax.grid(True, alpha=0.4)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(sys.argv[2])


if __name__ == "__main__":
    main()
