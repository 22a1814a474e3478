#!/usr/bin/python3
"""A line's insertion loss per length against frequency, from `kestrelix loss`.

    plot_loss.py LOSS.json|LOSS.csv OUT.png [--per LENGTH] [--unit mm|mil|in|um]

LOSS is the JSON or CSV of `kestrelix loss ... --format json|csv`: the
attenuation of each mode per length unit (alpha_<mode>_db_per_<unit>) with
its conductor and dielectric shares (alpha_c_..., alpha_d_...). The plot
shows the loss of --per (default 100) lengths of --unit (default mm), as
positive dB: a pair's differential mode (and its common mode, thinner), a
single line's one mode, each with its conductor and dielectric shares
dashed. The lengths of the file's own unit are converted.
"""
import argparse
import csv
import json
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

MM_PER = {"mm": 1.0, "mil": 0.0254, "in": 25.4, "um": 0.001}


def read_rows(path):
    """The rows as dictionaries of numbers, and the title from the inputs."""
    with open(path) as f:
        text = f.read()
    if path.endswith(".json") or text.lstrip().startswith("{"):
        doc = json.loads(text)
        inputs = doc.get("inputs", {})
        title = ", ".join("%s %s" % (k, inputs[k]) for k in ("structure", "material", "roughness_bottom")
                          if k in inputs)
        return doc["rows"], title
    rows = []
    for r in csv.DictReader(text.splitlines()):
        rows.append({k: float(v) for k, v in r.items() if v not in ("", None) and k != "flags"
                     and k != "valid"})
    return rows, ""


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("loss")
    p.add_argument("out")
    p.add_argument("--per", type=float, default=100.0)
    p.add_argument("--unit", choices=sorted(MM_PER), default="mm")
    opt = p.parse_args()
    rows, title = read_rows(opt.loss)
    if not rows:
        sys.exit("%s: no rows" % opt.loss)
    keys = list(rows[0])
    # The modes: alpha_diff, alpha_comm; alpha alone; alpha_1, alpha_2, ...
    found = [re.fullmatch(r"alpha(_[a-z0-9]+)?_db_per_(mm|mil|in|um)", k) for k in keys]
    modes = [(m.group(1) or "", m.group(2)) for m in found if m]
    if not modes:
        sys.exit("%s: no alpha_..._db_per_UNIT columns (the output of kestrelix loss?)" % opt.loss)
    f = [r["f_ghz"] for r in rows]
    fig, ax = plt.subplots(figsize=(7, 4.2), dpi=90)
    names = {"_diff": "differential", "_comm": "common", "": "line"}
    for k, (mode, unit) in enumerate(modes):
        # dB per file unit times file units per the plot's length.
        scale = opt.per * MM_PER[opt.unit] / MM_PER[unit]
        name = names.get(mode, "mode " + mode[1:])
        width = 2.0 if k == 0 else 1.0
        line, = ax.plot(f, [scale * r["alpha%s_db_per_%s" % (mode, unit)] for r in rows],
                        lw=width, label=name)
        for share, style in (("c", "--"), ("d", ":")):
            key = "alpha_%s%s_db_per_%s" % (share, mode, unit)
            if key in rows[0] and k == 0:
                ax.plot(f, [scale * r[key] for r in rows], style, color=line.get_color(), lw=1,
                        label="%s: %s" % (name, "conductor" if share == "c" else "dielectric"))
    ax.set_xlabel("frequency (GHz)")
    ax.set_ylabel("insertion loss per %g %s (dB)" % (opt.per, opt.unit))
    ax.set_title(title or "kestrelix loss")
    ax.set_xlim(left=0)
    ax.set_ylim(bottom=0)
    ax.grid(True, alpha=0.4)
    ax.legend(loc="upper left")
    fig.tight_layout()
    fig.savefig(opt.out)


if __name__ == "__main__":
    main()
