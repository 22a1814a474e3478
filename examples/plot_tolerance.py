#!/usr/bin/python3
"""Histograms of coupling and Zo from a tolerance run's samples file.

    plot_tolerance.py SAMPLES.csv OUT.png [--coupling MIN:MAX] [--zo MIN:MAX] [--bins N]

SAMPLES.csv is the file written by `kestrelix tolerance ... --samples-out`;
only the samples with status "ok" (inside the models' validity) are drawn.
The limits, when given, are marked as vertical lines (either end may be left
empty, as in --coupling 9.5: ).
"""
import argparse
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def limits(text):
    lo, sep, hi = text.partition(":")
    if not sep:
        raise argparse.ArgumentTypeError("expected MIN:MAX")
    try:
        return (float(lo) if lo else None, float(hi) if hi else None)
    except ValueError:
        raise argparse.ArgumentTypeError("MIN and MAX must be numbers")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("samples")
    ap.add_argument("png")
    ap.add_argument("--coupling", type=limits, help="coupling limits, dB")
    ap.add_argument("--zo", type=limits, help="Zo limits, ohms")
    ap.add_argument("--bins", type=int, default=60)
    args = ap.parse_args()

    coupling, zo = [], []
    try:
        with open(args.samples, newline="") as f:
            for row in csv.DictReader(f):
                if row["status"] == "ok":
                    coupling.append(float(row["coupling_db"]))
                    zo.append(float(row["zo"]))
    except (OSError, KeyError, ValueError) as e:
        sys.exit(f"plot_tolerance.py: cannot read {args.samples}: {e}")
    if not coupling:
        sys.exit("plot_tolerance.py: no valid samples to draw")

    fig, axes = plt.subplots(1, 2, figsize=(9, 3.4), dpi=80)
    panels = [(axes[0], coupling, "Coupling (dB)", args.coupling),
              (axes[1], zo, "Zo (ohms)", args.zo)]
    for ax, data, label, lim in panels:
        ax.hist(data, bins=args.bins, color="#4a7ab5", edgecolor="none")
        ax.set_xlabel(label)
        ax.set_ylabel("samples")
        for x in lim or ():
            if x is not None:
                ax.axvline(x, color="#c0392b", linestyle="--", linewidth=1.2)
    fig.suptitle(f"{len(coupling)} valid samples", fontsize=10)
    fig.tight_layout()
    try:
        fig.savefig(args.png)
    except OSError as e:
        sys.exit(f"plot_tolerance.py: cannot write {args.png}: {e}")


if __name__ == "__main__":
    main()
