"""The module's values are the command line's for the same inputs."""
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import kestrelix as kx
from conftest import same_floats

MM = ["--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035", "--units", "mm"]
SUB = kx.Section(er=3.66, h=0.508, h2=6.35, t=0.035, units="mm")
COUPLER = SUB.replace(w=0.8724973, s=0.094238155)
COUPLER_ARGS = MM + ["--w", "0.8724973", "--s", "0.094238155"]


def column(doc, key):
    return [row[key] for row in doc["rows"]]


@pytest.mark.parametrize("model", ["closed", "field"])
def test_modes_over_a_width_range_are_the_rows_of_analyse(run, model):
    # Inches: the widths the range gives are the document's to the bit.
    doc = run(["analyse", "--er", "3.66", "--h", "0.02", "--h2", "0.25", "--t", "0.0014",
               "--s", "0.005", "--w-range", "0.01:0.06:0.01", "--f", "2.4", "--tlos", "0.002",
               "--model", model])
    w = np.array(column(doc, "w_in"))
    sec = kx.Section(er=3.66, h=0.02, h2=0.25, t=0.0014, s=0.005)
    m = kx.modes(sec, w=w, f=2.4, model=model, materials=kx.Materials(tlos=0.002),
                 deviations=model == "closed")
    assert m["model"] == model and m["zoe"].shape == w.shape
    for key, cli in [("zo", "zo_ohm"), ("zoe", "zoe_ohm"), ("zoo", "zoo_ohm"),
                     ("coupling", "coupling_db"), ("eff_e", "eff_e"), ("eff_o", "eff_o"),
                     ("alpha_e", "alpha_e_db_per_in"), ("alpha_o", "alpha_o_db_per_in")]:
        assert same_floats(m[key], column(doc, cli)), key
    if model == "field":
        assert same_floats(m["field_error"], column(doc, "field_error_pct"))
    else:
        for key in ["field_dev_zoe", "field_dev_zoo"]:
            assert same_floats(m[key], column(doc, key + "_pct")), key
        assert same_floats(m["field_dev_coupling"], column(doc, "field_dev_coupling_db"))
    assert [f.split() for f in m["flags"]] == column(doc, "flags")
    assert list(m["valid"]) == column(doc, "valid")


def test_modes_over_frequency_are_the_rows_of_dispersion(run):
    doc = run(["dispersion"] + COUPLER_ARGS + ["--f-range", "0:30:5", "--tlos", "0.002"])
    f = kx.sweep(0, 30, 5)
    assert same_floats(f, column(doc, "f_ghz"))
    m = kx.modes(COUPLER, f=f, materials=kx.Materials(tlos=0.002))
    for key in ["eff_e", "eff_o", "eff_c", "zoe", "zoo", "zo"]:
        assert same_floats(m[key], column(doc, key if key.startswith("eff") else key + "_ohm"))
    # Lengths and losses per length in mm.
    assert same_floats(m["alpha_o"], column(doc, "alpha_o_db_per_mm"))
    # No quarter wave at D.C.: null in the document, infinite in the library.
    assert same_floats(np.where(f == 0, np.nan, m["quarter_wave"]),
                       column(doc, "quarter_wave_mm"))
    assert [f.split() for f in m["flags"]] == column(doc, "flags")


@pytest.mark.parametrize("model", ["closed", "field"])
def test_synthesise_gives_the_rows_of_synthesise(run, model):
    doc = run(["synthesise", "--er", "3.66", "--h", "20", "--h2", "250", "--t", "1.4",
               "--units", "mil", "--zo", "50", "--coupling", "8,10,15", "--f", "2.4",
               "--model", model])
    sub = kx.Section(er=3.66, h=20, h2=250, t=1.4, units="mil")
    r = kx.synthesise(sub, zo=50, coupling=np.array([8, 10, 15]), f=2.4, model=model,
                      deviations=model == "closed")
    keys = ["w_mil", "s_mil", "zoe_ohm", "zoo_ohm", "eff_e", "eff_o", "quarter_wave_mil",
            "an_zo_ohm", "an_coupling_db", "an_alpha_o_db_per_mil"]
    if model == "field":
        keys += ["closed_w_mil", "closed_s_mil", "field_error_pct"]
    else:
        keys += ["field_dev_zoe_pct", "field_dev_coupling_db"]
    for key in keys:
        ours = key.replace("_mil", "").replace("_ohm", "").replace("_db_per", "")
        ours = {"an_coupling_db": "an_coupling", "field_error_pct": "field_error",
                "field_dev_zoe_pct": "field_dev_zoe",
                "field_dev_coupling_db": "field_dev_coupling"}.get(ours, ours)
        assert same_floats(r[ours], column(doc, key)), key
    assert list(r["valid"]) == column(doc, "valid")
    assert [f.split() for f in r["flags"]] == column(doc, "flags")


def test_diffpair_finds_what_diffpair_finds(run):
    pair = ["--er", "4.4", "--h", "0.2", "--h2", "inf", "--t", "0.035", "--units", "mm"]
    sec = kx.Section(er=4.4, h=0.2, t=0.035, units="mm")
    for args, kw in [(["--w", "0.15", "--zdiff", "100"], dict(w=0.15, zdiff=100)),
                     (["--zdiff", "100", "--zcomm", "30"], dict(zdiff=100, zcomm=30))]:
        row = run(["diffpair"] + pair + args + ["--model", "field"])["rows"][0]
        w = kw.pop("w", None)
        p = kx.diffpair(sec.replace(w=w) if w else sec, model="field", **kw)
        assert p["found"] and p["valid"]
        for key in ["w_mm", "s_mm", "zdiff_ohm", "zcomm_ohm", "eff_o", "delay_o_ps_per_mm"]:
            ours = key.split("_mm")[0].replace("_ohm", "").replace("_ps_per", "")
            assert same_floats(p[ours], [row[key]]), key


def test_check_compares_as_check_does(run):
    doc = run(["check"] + COUPLER_ARGS + ["--f", "2.4"])
    c = kx.check(COUPLER, f=2.4)
    for row in doc["rows"]:
        fig = row["quantity"].replace("_ohm", "").replace("_db", "")
        for part, key in [("closed", "closed"), ("field", "field"),
                          ("difference_pct", "difference_pct"),
                          ("field_error_pct", "field_error_pct")]:
            assert same_floats([c[part][fig]], [row[key]]), (fig, part)
        assert c["flags"].split() == row["flags"]
    assert c["verdict"] == doc["summary"]["verdict"].replace("--model field", "model='field'")


def test_the_network_is_the_touchstone_file(run, tmp_path):
    skrf = pytest.importorskip("skrf")
    path = tmp_path / "c.s4p"
    run(["response"] + COUPLER_ARGS + ["--centre", "2.4", "--f-range", "1:4:0.25",
                                       "--touchstone", str(path), "--reference", "75"])
    net = kx.response(COUPLER, f=kx.sweep(1, 4, 0.25), centre=2.4, reference=75)
    written = skrf.Network(str(path))
    assert np.array_equal(net.f, written.f)
    assert np.array_equal(net.s.astype(np.complex64), written.s.astype(np.complex64))
    assert np.all(net.z0 == 75) and np.all(written.z0 == 75)
    comments = [line[2:] for line in path.read_text().splitlines() if line.startswith("! ")]
    assert net.comments.splitlines() == comments


def test_tolerance_summary_and_samples_are_the_run_of_tolerance(run, tmp_path):
    csv = tmp_path / "samples.csv"
    doc = run(["tolerance"] + COUPLER_ARGS + [
        "--f", "2.4", "--centre", "2.4", "--tol-etch", "0.00762", "--tol-h", "5%",
        "--tol-er", "2%", "--f-range", "2.2:2.6:0.1", "--limit", "coupled_db=9.5:10.5",
        "--limit", "zo=+-1", "--samples", "3000", "--seed", "7", "--samples-out", str(csv)])
    r = kx.tolerance(COUPLER, f=2.4, centre=2.4, tol_etch=0.00762, tol_h="5%", tol_er="2%",
                     band=kx.sweep(2.2, 2.6, 0.1),
                     limits=["coupled_db=9.5:10.5", "zo=+-1"], samples=3000, seed=7)
    for row in doc["rows"]:
        if row["kind"] == "figure":
            fig = r["figures"][row["figure"]]
            for key in ["mean", "std", "min", "p1", "p50", "p99", "max", "count"]:
                assert fig[key] == row[key], (row["figure"], key)
            assert same_floats([fig["nominal"]], [row["nominal"]])
            assert fig["share_pct"]["etch"] == row["share_etch_pct"]
            assert list(fig["histogram"]) == row["histogram"]
        else:
            y = r["all_limits"] if row["kind"] == "all_limits" else next(
                lim for lim in r["limits"] if lim["figure"] == row["figure"])
            assert (y["passed"], y["yield_pct"], y["ci95_low_pct"]) == (
                row["passed"], row["yield_pct"], row["ci95_low_pct"])
    for key in ["valid", "outside_range", "invalid", "redrawn", "oat_samples"]:
        assert r["summary"][key] == doc["summary"][key], key
    table = np.genfromtxt(csv, delimiter=",", names=True, dtype=None, encoding="utf-8")
    for key, ours in [("w_mm", "w"), ("h_mm", "h"), ("etch_mm", "etch"), ("er", "er"),
                      ("zo_ohm", "zo"), ("coupled_db", "coupled_db"), ("vswr", "vswr")]:
        assert same_floats(r["samples"][ours], table[key]), key
    assert list(r["samples"]["status"]) == list(table["status"])


def test_arrays_broadcast_as_numpy_does():
    w = np.linspace(0.4, 1.4, 4)[:, None]
    s = np.array([0.08, 0.12, 0.3])[None, :]
    grid = kx.modes(COUPLER, w=w, s=s, f=np.array(2.4))
    assert grid["zoe"].shape == (4, 3) and grid["flags"].shape == (4, 3)
    one = kx.modes(COUPLER, w=float(w[2, 0]), s=0.3, f=2.4)
    assert grid["zoe"][2, 2] == one["zoe"] and grid["valid"][2, 2] == one["valid"]
    assert isinstance(one["zoe"], float) and isinstance(one["flags"], str)
    with pytest.raises(ValueError, match=r"s: shape \(2,\) does not broadcast with w's \(3,\)"):
        kx.modes(COUPLER, w=np.ones(3), s=np.ones(2))


def cli_message(r):
    """The one line the command line printed, without "kestrelix NAME: "."""
    assert r.returncode == 2 and r.stderr.count("\n") == 1, r.stderr
    return r.stderr.split(": ", 1)[1].strip()


def test_bad_arguments_raise_the_command_lines_message(run):
    cases = [
        (["analyse", "--er", "3.66", "--h", "0", "--h2", "1", "--w", "1", "--s", "1", "--t",
          "0"], lambda: kx.modes(kx.Section(er=3.66, h=0, h2=1, w=1, s=1))),
        (["analyse", "--er", "3.66", "--h", "0.508", "--h2", "0.9", "--w", "1", "--s", "1",
          "--t", "0.035", "--units", "mm", "--model", "closed"],
         lambda: kx.modes(COUPLER, h2=np.array([6.35, 0.9]), model="closed")),
        (["analyse", "--er", "3.66", "--h", "0.508", "--h2", "0.03", "--w", "1", "--s", "1",
          "--t", "0.035", "--units", "mm"],
         lambda: kx.modes(COUPLER, h2=0.03)),
        (["analyse"] + COUPLER_ARGS + ["--model", "closed", "--method", "direct"],
         lambda: kx.modes(COUPLER, model="closed", method="direct")),
        (["analyse"] + COUPLER_ARGS + ["--model", "field", "--coat-thickness", "6.4",
                                       "--coat-er", "3"],
         lambda: kx.modes(COUPLER, model="field",
                          coating=kx.Coating(thickness=6.4, er=3, units="mm"))),
        (["diffpair"] + COUPLER_ARGS + ["--zdiff", "100"],
         lambda: kx.diffpair(COUPLER, zdiff=100)),
        (["diffpair"] + MM + ["--zdiff", "100", "--zcomm", "20"],
         lambda: kx.diffpair(SUB, zdiff=100, zcomm=20)),
    ]
    for args, call in cases:
        expected = cli_message(run(args, check=False))
        with pytest.raises(ValueError) as e:
            call()
        # The module names a value by its keyword (h, coating, model='closed'), the
        # command line by its option (--h, --coat-thickness, --model closed).
        expected = expected.replace("--model closed", "model='closed'")
        expected = expected.replace("--coat-thickness", "coating").replace("--", "")
        assert str(e.value) == expected
    with pytest.raises(ValueError, match="^limits: unknown figure 'zx' in limit"):
        kx.tolerance(COUPLER, f=2.4, limits=["zx=1:2"])


def test_long_array_calls_release_the_gil():
    import threading
    started, done = threading.Event(), threading.Event()
    w = np.linspace(0.3, 1.5, 100)

    def work():
        started.set()
        kx.modes(COUPLER, w=w, model="field", method="direct")
        done.set()

    worker = threading.Thread(target=work)
    worker.start()
    started.wait()
    spins = 0
    while not done.is_set():
        spins += 1
    worker.join()
    # Holding the GIL through its solutions, the call would leave this thread none.
    assert spins > 10000


def test_ctrl_c_stops_a_long_tolerance_run(tmp_path):
    script = tmp_path / "long.py"
    script.write_text(
        "import sys, kestrelix as kx\n"
        "sec = kx.Section(er=3.66, h=20, h2=250, w=34.3, s=3.7, t=1.4, units='mil')\n"
        "print('running', flush=True)\n"
        "try:\n"
        "    kx.tolerance(sec, f=2.4, centre=2.4, tol_w=0.5, samples=10000000,\n"
        "                 keep_samples=False)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        "    sys.exit(3)\n")
    p = subprocess.Popen([sys.executable, str(script)], stdout=subprocess.PIPE, text=True,
                         env=dict(os.environ))
    assert p.stdout.readline() == "running\n"
    time.sleep(0.3)
    p.send_signal(signal.SIGINT)
    out, _ = p.communicate(timeout=20)
    assert p.returncode == 3 and out == "interrupted\n"


def test_line_solves_the_structure_as_line_does(run):
    for args, kw in [
        (["--structure", "microstrip-pair", "--w", "0.15", "--zdiff", "90"],
         dict(structure="microstrip-pair", w=0.15, zdiff=90)),
        (["--structure", "stripline", "--z0", "50"], dict(structure="stripline", z0=50)),
    ]:
        doc = run(["line"] + args + ["--h", "0.2", "--er", "4.3", "--t", "0.035", "--units",
                                     "mm"])
        r = kx.line(h=0.2, er=4.3, t=0.035, units="mm", **kw)
        row = next(row for row in doc["rows"] if row["kind"] == ("pair" if r["pair"] else "line"))
        keys = (["zdiff", "zcomm", "zoe", "zoo", "eff_e", "eff_o", "delay_o"] if r["pair"]
                else ["z0", "eff", "delay"])
        for key in keys:
            cli = next(k for k in row if k == key or k.startswith(key + "_ohm")
                       or k.startswith(key + "_ps"))
            assert r[key] == row[cli], key
        first = next(row for row in doc["rows"] if row["kind"] == "line")
        assert r["w"] == first["w_mm"] and r["solves"] == doc["summary"]["solves"]
        assert r["valid"] and r["flags"] == ""


def test_rlgc_gives_the_matrices_of_rlgc(run):
    doc = run(["rlgc"] + COUPLER_ARGS + ["--f-range", "1:3:1", "--tlos", "0.004", "--res", "2",
                                         "--sr", "10"])
    f = np.array(column(doc, "f_ghz"))
    r = kx.rlgc(COUPLER, f=f, materials=kx.Materials(res=2, sr=10, tlos=0.004))
    for name in "rlgc":
        unit = {"r": "ohm", "l": "h", "g": "s", "c": "f"}[name]
        for i, j in [(0, 0), (1, 0), (1, 1)]:
            key = "%s%d%d_%s_per_m" % (name, i + 1, j + 1, unit)
            assert list(r[name][:, i, j]) == column(doc, key), key
    assert r["field_error"] == doc["summary"]["field_error_pct"]
