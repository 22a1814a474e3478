"""line(), loss() and the wideband rlgc() on board cross-sections give the
command line's values for the same inputs."""
import os

import numpy as np
import pytest

import kestrelix as kx

BOARD = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "six_layer.kicad_pcb")
# An inner-layer pair: offset stripline of fr4_like, Huray-rough copper.
INNER = dict(structure="offset-stripline-pair", h=0.2, h_above=0.3, t=0.035, s=0.2)
INNER_ARGS = ["--structure", "offset-stripline-pair", "--h", "0.2", "--h-above", "0.3", "--t",
              "0.035", "--s", "0.2"]
LOSSES = dict(material="fr4_like", roughness="huray:radius=0.5,spheres=14,side=5.8")
LOSS_ARGS = ["--material", "fr4_like", "--roughness", "huray:radius=0.5,spheres=14,side=5.8"]


def pair_row(doc):
    return next(row for row in doc["rows"] if row["kind"] == "pair")


def test_inner_pair_search_and_loss_are_the_command_lines(run):
    doc = run(["line"] + INNER_ARGS + ["--er", "4.2", "--zdiff", "90", "--units", "mm"])
    r = kx.line(er=4.2, zdiff=90, units="mm", **INNER)
    assert r["pair"] and r["w"] == doc["summary"]["w_mm"] and r["s"] == pair_row(doc)["s_mm"]
    assert r["zdiff"] == pair_row(doc)["zdiff_ohm"] and abs(r["zdiff"] - 90) < 0.5

    w = repr(r["w"])
    doc = run(["loss"] + INNER_ARGS + LOSS_ARGS + ["--w", w, "--f-range", "1:10:3", "--length",
                                                   "100", "--units", "mm"])
    lo = kx.loss(w=r["w"], f_range=(1, 10, 3), length=100, units="mm", **INNER, **LOSSES)
    assert list(lo["f"]) == [1, 4, 7, 10]
    for key, values in doc["rows"][0].items():
        column = [row[key] for row in doc["rows"]]
        if isinstance(values, float):
            assert list(lo[key]) == column, key
    alpha = [k for k in lo if k.startswith("alpha")]
    assert alpha and all(np.all(lo[k] > 0) for k in alpha)
    assert np.all(np.diff(lo[alpha[0]]) > 0)


def test_kicad_layer_pair_for_90_ohm_and_its_rlgc(run):
    board = ["--kicad", BOARD, "--layer", "In2.Cu", "--pair", "--s", "0.15"]
    doc = run(["line"] + board + ["--zdiff", "90", "--units", "mm"])
    r = kx.line(kicad=BOARD, layer="In2.Cu", pair=True, s=0.15, zdiff=90, units="mm")
    assert r["w"] == doc["summary"]["w_mm"] and r["zdiff"] == pair_row(doc)["zdiff_ohm"]

    doc = run(["rlgc"] + board + ["--w", repr(r["w"]), "--f-range", "2:2:1", "--f-datasheet", "2",
                                  "--roughness", "groisse:rq=1", "--units", "mm"])
    g = kx.rlgc(kicad=BOARD, layer="In2.Cu", pair=True, s=0.15, w=r["w"], f=2, f_datasheet=2,
                roughness="groisse:rq=1", units="mm")
    row = doc["rows"][0]
    assert g["f"][0] == 2 and g["c"].shape == (1, 2, 2)
    assert g["c"][0, 1, 0] == g["c"][0, 0, 1] == row["c21_f_per_m"] < 0
    assert g["g"][0, 1, 1] == row["g22_s_per_m"] and g["r"][0, 0, 0] == row["r11_ohm_per_m"]


def test_a_bad_keyword_raises_the_command_lines_message(run):
    r = run(["line", "--structure", "microstrip", "--h", "0.2", "--er", "4.3", "--w", "0.3",
             "--mask-er", "0.5", "--mask-over-trace", "0.02"], check=False)
    assert r.returncode == 2
    expected = r.stderr.split(": ", 1)[1].strip().replace("--", "").replace("-", "_")
    with pytest.raises(ValueError) as e:
        kx.line("microstrip", h=0.2, er=4.3, w=0.3, mask_er=0.5, mask_over_trace=0.02)
    assert str(e.value) == expected
