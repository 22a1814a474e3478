#!/usr/bin/python3
"""Coupling and Zo of a tolerance run's samples: two histograms and a scatter.

    plot_tolerance.py SAMPLES.csv OUT.png [--coupling MIN:MAX] [--zo MIN:MAX] [--bins N]
                      [--figure coupled_db|coupling_db]

SAMPLES.csv is the file written by `kestrelix tolerance ... --samples-out`;
the samples the models evaluate (status "ok") are drawn, those outside the
models' fitted ranges (valid "false") in a second colour on the scatter. The
limits, when given, are marked as lines on the histograms and as a box on
the scatter of coupling against Zo (either end may be left empty, as in
--coupling 9.5: ).

The coupling drawn is the one a coupling limit is put on: the coupler's
|S21| (`coupled_db`, in the file of a run with --length or --centre; the
figure a --f-range band holds) or else the cross-section's lossless coupling
(`coupling_db`); --figure chooses. The file holds every figure at the
run's --f: with a band, the yield counts a board that holds its limits at
every frequency of the band, and the histogram is its coupling at --f.
"""
import argparse
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


# The couplings a samples file holds, as the axes name them.
FIGURES = {"coupled_db": "Coupling of the coupler, |S21| (dB)",
           "coupling_db": "Coupling of the cross-section, lossless (dB)"}


def limits(text):
    lo, sep, hi = text.partition(":")
    if not sep:
        raise argparse.ArgumentTypeError("expected MIN:MAX")
    try:
        return (float(lo) if lo else None, float(hi) if hi else None)
    except ValueError:
        raise argparse.ArgumentTypeError("MIN and MAX must be numbers")


def box(ax, xlim, ylim):
    """The pass box of two limits on the scatter; an open end runs to the edge."""
    x0, x1 = ax.get_xlim()
    y0, y1 = ax.get_ylim()
    xa, xb = (xlim or (None, None))
    ya, yb = (ylim or (None, None))
    xa = x0 if xa is None else xa
    xb = x1 if xb is None else xb
    ya = y0 if ya is None else ya
    yb = y1 if yb is None else yb
    ax.add_patch(plt.Rectangle((xa, ya), xb - xa, yb - ya, fill=False, edgecolor="#c0392b",
                               linestyle="--", linewidth=1.2))
    ax.set_xlim(min(x0, xa), max(x1, xb))
    ax.set_ylim(min(y0, ya), max(y1, yb))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("samples")
    ap.add_argument("png")
    ap.add_argument("--coupling", type=limits, help="coupling limits, dB")
    ap.add_argument("--zo", type=limits, help="Zo limits, ohms")
    ap.add_argument("--bins", type=int, default=60)
    ap.add_argument("--figure", choices=FIGURES,
                    help="the coupling to draw (default: coupled_db when the file has it)")
    args = ap.parse_args()

    coupling, zo, inside = [], [], []
    try:
        with open(args.samples, newline="") as f:
            rows = csv.DictReader(f)
            figure = args.figure or ("coupled_db" if "coupled_db" in (rows.fieldnames or []) else "coupling_db")
            for row in rows:
                if row["status"] == "ok":
                    coupling.append(float(row[figure]))
                    zo.append(float(row["zo_ohm"]))
                    inside.append(row["valid"] == "true")
    except (OSError, KeyError, ValueError) as e:
        sys.exit(f"plot_tolerance.py: cannot read {args.samples}: {e}")
    if not coupling:
        sys.exit("plot_tolerance.py: no evaluated samples to draw")

    fig, axes = plt.subplots(1, 3, figsize=(13, 3.6), dpi=80)
    coupling_label = FIGURES[figure]
    panels = [(axes[0], coupling, coupling_label, args.coupling),
              (axes[1], zo, "Zo (ohms)", args.zo)]
    for ax, data, label, lim in panels:
        ax.hist(data, bins=args.bins, color="#4a7ab5", edgecolor="none")
        ax.set_xlabel(label)
        ax.set_ylabel("samples")
        for x in lim or ():
            if x is not None:
                ax.axvline(x, color="#c0392b", linestyle="--", linewidth=1.2)
    ax = axes[2]
    for keep, colour, label in ((True, "#4a7ab5", "inside the models' ranges"),
                                (False, "#e67e22", "outside the fitted ranges")):
        xs = [z for z, k in zip(zo, inside) if k == keep]
        ys = [c for c, k in zip(coupling, inside) if k == keep]
        if xs:
            ax.scatter(xs, ys, s=2, color=colour, alpha=0.4, linewidths=0, label=label)
    ax.set_xlabel("Zo (ohms)")
    ax.set_ylabel(coupling_label)
    if args.zo or args.coupling:
        box(ax, args.zo, args.coupling)
    if not all(inside):
        ax.legend(loc="best", fontsize=8, markerscale=4)
    outside = len(inside) - sum(inside)
    fig.suptitle(f"{len(coupling)} samples" + (f", {outside} outside the fitted ranges"
                                               if outside else ""), fontsize=10)
    fig.tight_layout()
    try:
        fig.savefig(args.png)
    except OSError as e:
        sys.exit(f"plot_tolerance.py: cannot write {args.png}: {e}")


if __name__ == "__main__":
    main()
