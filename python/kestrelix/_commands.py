"""line(), loss() and the wideband rlgc(): the program's own subcommands run in
this process. The keywords are the command line's options (mask_er is
--mask-er), checked by the command line's own code; the JSON document it
prints becomes a dict of numbers and numpy arrays, so the values are those of
`kestrelix line|loss|rlgc --format json` for the same inputs."""
import json
import math
import re

import numpy as np

from ._kestrelix import _run

# The options of a board cross-section (cli/structure_options.h).
STRUCTURE = ("structure", "stackup", "kicad", "layer", "above", "below", "interface", "pair",
             "h", "er", "tand", "h_above", "er_above", "tand_above", "h_between", "er_between",
             "tand_between", "w", "s", "t", "etch_factor", "top_w", "offset", "ground_gap",
             "ground_width", "mask_over_trace", "mask_on_substrate", "mask_between", "mask_er",
             "mask_tand")
LINE = STRUCTURE + ("accuracy", "z0", "zdiff", "zcomm", "pitch", "neighbour", "both_sides",
                    "check")
# The wideband loss options (cli/loss_options.h) and the pair's section.
LOSSES = ("material", "materials", "dk", "df", "f_datasheet", "dielectric_model", "conductor",
          "resistivity", "roughness", "roughness_top", "roughness_bottom", "roughness_sides",
          "roughness_ground", "coat_tlos")
WIDEBAND = STRUCTURE + LOSSES + ("h2", "res", "sr", "tlos", "accuracy", "coat_thickness",
                                 "coat_er")
LOSS = WIDEBAND + ("length", "reference", "mixed_mode")


def _text(value):
    if isinstance(value, (bool, np.bool_)):
        raise TypeError("a number or a word, not %r" % (value,))
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        return repr(float(value))
    return str(value)


def _arguments(command, allowed, options, units):
    args = [command]
    for key, value in options.items():
        if key not in allowed:
            raise TypeError("%s() got an unexpected keyword argument '%s'" % (command, key))
        if value is None or value is False:
            continue
        option = "--" + key.replace("_", "-")
        if value is True:
            args.append(option)
        else:
            args += [option, _text(value)]
    return args + ["--units", units, "--format", "json"]


def _run_json(args, keywords):
    """The document of one command line; ValueError with its one-line message,
    naming every option by its keyword (--mask-er: mask_er)."""
    status, out, err = _run(args)
    if status != 0:
        message = err.strip().split(": ", 1)[-1]
        message = re.sub(r"--([a-z][a-z0-9-]*)",
                         lambda m: (m.group(1).replace("-", "_")
                                    if m.group(1).replace("-", "_") in keywords else m.group(0)),
                         message)
        raise ValueError(message)
    return json.loads(out)


def _number(v):
    return math.nan if v is None else v


def _columns(rows):
    """The rows' columns as numpy arrays (null: NaN; words stay words)."""
    out = {}
    for key in rows[0] if rows else ():
        values = [row.get(key) for row in rows]
        if all(v is None or isinstance(v, (int, float)) and not isinstance(v, bool)
               for v in values):
            out[key] = np.array([_number(v) for v in values], dtype=float)
        else:
            out[key] = np.array(values, dtype=object)
    return out


def line(structure=None, *, units="in", **options):
    """A board cross-section's line or pair on the general field solver, as
    `kestrelix line` solves it (doc/python.md: the keywords are its options)."""
    options["structure"] = structure
    doc = _run_json(_arguments("line", LINE, options, units), LINE)
    rows = doc["rows"]
    summary = doc.get("summary", {})
    suffix = "_" + units
    lines = [r for r in rows if r.get("kind") == "line"]
    pair = next((r for r in rows if r.get("kind") == "pair"), None)
    d = {"structure": doc["inputs"].get("structure", structure), "pair": pair is not None}
    first = lines[0] if lines else {}
    d["w"] = first.get("w" + suffix)
    d["s"] = pair.get("s" + suffix) if pair is not None else None
    for key in ("z0", "eff", "delay"):
        d[key] = next((v for k, v in first.items() if k == key or k.startswith(key + "_")), None)
    figures = first
    if pair is not None:
        figures = pair
        for key in ("zdiff", "zcomm", "zoe", "zoo", "eff_e", "eff_o", "delay_e", "delay_o"):
            d[key] = next((v for k, v in pair.items() if k == key or k.startswith(key + "_")),
                          None)
        # As the solver's figures give it: 20 log10((Zoe + Zoo) / |Zoe - Zoo|).
        zoe, zoo = d["zoe"], d["zoo"]
        d["coupling"] = (20.0 * math.log10((zoe + zoo) / abs(zoe - zoo)) if zoe != zoo
                         else math.inf)
    d["field_error"] = figures.get("field_error_pct")
    d["solves"] = summary.get("solves")
    solved = lines + ([pair] if pair is not None else [])
    d["valid"] = all(r.get("valid", True) for r in solved)
    flags = []
    for r in solved:
        flags += [f for f in r.get("flags") or [] if f not in flags]
    d["flags"] = " ".join(flags)
    d["units"] = units
    d["rows"] = rows
    d["summary"] = summary
    d["inputs"] = doc["inputs"]
    return d


def _wideband(command, allowed, section, f, f_range, materials, units, options):
    if section is not None:
        units = section.units
        # A material or a datasheet Dk gives the substrate's Er (the command
        # line refuses both).
        named = ("h", "w", "s", "t", "h2") if options.get("material") or options.get("dk") \
            else ("er", "h", "w", "s", "t", "h2")
        for key in named:
            value = getattr(section, key)
            if key in options:
                raise TypeError("%s: given by the section" % key)
            if math.isinf(value):
                options[key] = "inf"  # no cover
            elif not math.isnan(value):
                options[key] = value
    if materials is not None:
        options.update(res=materials.res, sr=materials.sr, tlos=materials.tlos)
    if (f is None) == (f_range is None):
        raise TypeError("%s(): give f (GHz) or f_range (start, stop, step)" % command)
    if f is not None:
        f_range = (f, f, 1)
    options["f_range"] = ":".join(_text(x) for x in f_range)
    doc = _run_json(_arguments(command, allowed + ("f_range",), options, units),
                    allowed + ("f_range",))
    out = _columns(doc["rows"])
    out["summary"] = doc.get("summary", {})
    out["inputs"] = doc["inputs"]
    out["units"] = units
    return out


def rlgc(section=None, *, f=None, f_range=None, materials=None, units="in", **options):
    """R, L, G, C per metre over frequency, as `kestrelix rlgc` computes them."""
    out = _wideband("rlgc", WIDEBAND, section, f, f_range, materials, units, options)
    n = max(int(k[1]) for k in out if re.match(r"^r\d\d_", k))
    if "f_ghz" in out:
        out["f"] = out["f_ghz"]
    for name in "rlgc":
        m = np.zeros((len(out["f"]), n, n))
        for key, values in out.items():
            x = re.match("^%s(\\d)(\\d)_" % name, key)
            if x:
                i, j = int(x.group(1)) - 1, int(x.group(2)) - 1
                m[:, i, j] = m[:, j, i] = values
        out[name] = m
    return out


def loss(section=None, *, f=None, f_range=None, materials=None, units="in", **options):
    """The modes' attenuation with its conductor and dielectric shares (and the
    insertion loss of a length), as `kestrelix loss` computes them."""
    out = _wideband("loss", LOSS, section, f, f_range, materials, units, options)
    if "f_ghz" in out:
        out["f"] = out["f_ghz"]
    return out
