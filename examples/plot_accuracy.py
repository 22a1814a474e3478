#!/usr/bin/python3
"""The closed forms' error against the field solver, over S/H and T/H.

    plot_accuracy.py KESTRELIX OUT.png [--coarse] [--w-h W] [--f GHZ]

Runs `KESTRELIX check --s-range ... --t-range ... --format json` (the
program's own field solver) for an FR-4-like substrate (Er 4.4) and an
alumina-like one (Er 9.8), open, strips W/H = 1 wide (--w-h), and draws the
closed forms' deviation from the solver in Zoo and in the odd-mode effective
permittivity, in percent (positive: the closed forms are high), over the
gap S/H and the strip thickness T/H; the dashed line is the 1 % the flag
closed_form_off stands for. --coarse takes a grid of a few dozen points
per substrate (a second or so).
"""
import argparse
import json
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import BoundaryNorm  # noqa: E402

SUBSTRATES = [("FR-4-like, Er 4.4", "4.4"), ("alumina-like, Er 9.8", "9.8")]
# Percent levels of the colour bands: symmetric, finer near zero.
LEVELS = [-50, -20, -10, -5, -2, -1, 1, 2, 5, 10, 20, 50, 100]


def grid(program, er, w_h, f, coarse):
    s_range = "0.1:2:0.3" if coarse else "0.05:2:0.05"
    t_range = "0:0.2:0.05" if coarse else "0:0.2:0.01"
    args = [program, "check", "--er", er, "--h", "1", "--h2", "inf", "--w", str(w_h),
            "--s-range", s_range, "--t-range", t_range, "--f", str(f), "--units", "mm",
            "--format", "json"]
    run = subprocess.run(args, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"plot_accuracy.py: {' '.join(args)} failed: {run.stderr.strip()}")
    rows = json.loads(run.stdout)["rows"]
    s = sorted({r["s_h"] for r in rows})
    t = sorted({r["t_h"] for r in rows})
    at = {(r["s_h"], r["t_h"]): r for r in rows}

    def table(key):
        return [[at[(x, y)][key] if at[(x, y)][key] is not None else float("nan") for x in s]
                for y in t]

    return s, t, table("field_dev_zoo_pct"), table("field_dev_eff_o_pct")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program")
    ap.add_argument("out")
    ap.add_argument("--coarse", action="store_true")
    ap.add_argument("--w-h", type=float, default=1.0)
    ap.add_argument("--f", type=float, default=0.0)
    a = ap.parse_args()

    fig, axes = plt.subplots(2, 2, figsize=(11, 8), sharex=True, sharey=True,
                             constrained_layout=True)
    norm = BoundaryNorm(LEVELS, ncolors=256, extend="both")
    for i, (name, er) in enumerate(SUBSTRATES):
        s, t, zoo, eff_o = grid(a.program, er, a.w_h, a.f, a.coarse)
        for j, (what, z) in enumerate([("Zoo", zoo), ("odd-mode eff. permittivity", eff_o)]):
            ax = axes[i][j]
            filled = ax.contourf(s, t, z, levels=LEVELS, cmap="RdBu_r", norm=norm, extend="both")
            lines = ax.contour(s, t, z, levels=[-1, 1], colors="k", linewidths=0.8,
                               linestyles="dashed")
            ax.clabel(lines, fmt="%g %%", fontsize=8)
            ax.set_title(f"{name}: closed forms' error in {what}", fontsize=10)
            if i == 1:
                ax.set_xlabel("S/H")
            if j == 0:
                ax.set_ylabel("T/H")
    bar = fig.colorbar(filled, ax=axes, shrink=0.8, ticks=LEVELS)
    bar.set_label("closed forms - field solver, % of the field value")
    freq = "D.C." if a.f == 0 else f"{a.f:g} GHz"
    fig.suptitle(f"Edge-coupled microstrip, W/H = {a.w_h:g}, open, {freq}: "
                 "the closed forms against the field solver")
    fig.savefig(a.out, dpi=90)


if __name__ == "__main__":
    main()
