#!/usr/bin/python3
"""The web page in a real browser (headless Chromium through Selenium).

    /usr/bin/python3 tests/web/browser_test.py build/app/kestrelix [--screenshot doc/web.png]

    /usr/bin/python3 tests/web/browser_test.py build/app/kestrelix --timing 7

Starts `kestrelix serve` on a free port, types the 10 dB example into the
page and checks that the synthesised W and S are the subcommand's with the
field solver (the page's model) and differ with the closed forms, that a
coating and an open section (H2 inf) reach the numbers and the drawing, that
bad input is named beside its input and in view, that the analysis tab opens
on a sweep without flagged rows and marks flagged points, that the response
chart holds the subcommand's points, that a changed input redraws it, that
the address reproduces the design in a fresh tab, that the Touchstone
download loads in scikit-rf with the subcommand's |S21|, that the tolerance
tab's band yield and histogram are the subcommand's four-port coupling, that
the accuracy tab's advice switches the model, that the tabs work from the
keyboard, that the page follows the dark theme and that nothing on it breaks
the content policy. Prints the page's size and timings: the first load, and
edit-to-plot (from the input event to the frame that shows the new plot, as
the page records it); --timing N loads the page N more times without its
cache and prints the medians. Exits 0 when every check passes.
"""
import argparse
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

EXAMPLE = {"er": "3.66", "h": "0.508", "h2": "6.35", "t": "0.035"}
TARGET = {"zo": "50", "cpl": "10", "fsyn": "2.4"}
FAILURES = []
PASSED = [0]


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if ok:
        PASSED[0] += 1
    else:
        FAILURES.append(what)


def cli(program, *args):
    out = subprocess.run([program, *args, "--format", "json"], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def browser(profile, downloads):
    o = webdriver.ChromeOptions()
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run",
              "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1400,1000"]:
        o.add_argument(a)
    o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    d = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=o)
    d.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    d.set_page_load_timeout(30)
    return d


def runs(d):
    return int(d.execute_script("return document.getElementById('results').dataset.runs || '0'"))


def wait_run(d, before, timeout=30):
    """Waits until a computation after `before` has finished."""
    end = time.time() + timeout
    while time.time() < end:
        done = d.execute_script(
            "const r = document.getElementById('results');"
            "return [Number(r.dataset.runs || 0), r.getAttribute('aria-busy')]")
        if done[0] > before and done[1] is None:
            return
        time.sleep(0.02)
    raise TimeoutError("the page did not finish a computation")


def type_into(d, name, value):
    el = d.find_element(By.NAME, name)
    el.send_keys(Keys.CONTROL, "a")
    el.send_keys(value)


def points(d, canvas):
    return d.execute_script(
        f"const c = Chart.getChart(document.getElementById('{canvas}'));"
        "return c ? c.data.datasets.map(s => s.data.length) : null")


def first_series(d, canvas):
    return d.execute_script(
        f"return Chart.getChart(document.getElementById('{canvas}')).data.datasets[0].data.map(p => p.y)")


def select_tab(d, tab):
    before = runs(d)
    d.find_element(By.ID, f"tab-{tab}").click()
    wait_run(d, before)


def clear(d, name):
    el = d.find_element(By.NAME, name)
    el.send_keys(Keys.CONTROL, "a")
    el.send_keys(Keys.DELETE)


def edit(d, name, value):
    """Types a value (or clears the input for None) and waits for the recomputation."""
    before = runs(d)
    if value is None:
        clear(d, name)
    else:
        type_into(d, name, value)
    wait_run(d, before)


def choose(d, name, value):
    """Chooses an option of a select (as a user does: input and change) and waits for the recomputation."""
    before = runs(d)
    d.execute_script(
        f"const el = document.querySelector('[name=\"{name}\"]'); el.value = '{value}';"
        "el.dispatchEvent(new Event('input', {bubbles: true}));"
        "el.dispatchEvent(new Event('change', {bubbles: true}))")
    wait_run(d, before)


def synthesised(d):
    return float(d.find_element(By.ID, "syn-w").text), float(d.find_element(By.ID, "syn-s").text)


def message(d, name):
    """The message beside input `name`: its text and whether it is in view beside the input."""
    return d.execute_script(
        f"const el = document.querySelector('[name=\"{name}\"]');"
        "const m = el.closest('label').querySelector('.msg');"
        "if (!m) return null;"
        "const r = m.getBoundingClientRect(), i = el.getBoundingClientRect();"
        "return {text: m.textContent, invalid: el.getAttribute('aria-invalid') === 'true',"
        " inView: r.top >= 0 && r.bottom <= innerHeight && r.height > 0,"
        " beside: Math.abs(r.top - i.bottom) < 40}")


def timed_edits(d, name, values):
    """Edits input `name` to each value in turn: the page's edit-to-plot times
    and the request's share of each (its resource timing), ms."""
    taken, requests = [], []
    for v in values:
        d.execute_script("performance.clearResourceTimings()")
        edit(d, name, v)
        taken.append(int(d.find_element(By.ID, "results").get_attribute("data-edit-ms")))
        requests.append(round(d.execute_script(
            "const e = performance.getEntriesByType('resource').filter(e => e.name.includes('/api/')).pop();"
            "return e ? e.responseEnd - e.startTime : 0")))
    return taken, requests


def median(xs):
    return sorted(xs)[len(xs) // 2]


def timing_runs(program_url, work, n):
    """Loads the page n times without its cache: the load event and the first result, ms."""
    loads, firsts = [], []
    d = browser(os.path.join(work, "profile-timing"), work)
    try:
        d.execute_cdp_cmd("Network.enable", {})
        d.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
        for _ in range(n):
            d.get(program_url)
            wait_run(d, 0)
            loads.append(d.execute_script(
                "const n = performance.getEntriesByType('navigation')[0]; return n.loadEventEnd - n.startTime"))
            firsts.append(int(d.find_element(By.ID, "results").get_attribute("data-first-ms")))
    finally:
        d.quit()
    return median(loads), median(firsts), firsts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--screenshot")
    ap.add_argument("--timing", type=int, default=0, help="page loads without the cache to time")
    args = ap.parse_args()
    program = os.path.abspath(args.program)
    section = ["--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035", "--units", "mm"]
    field = ["--model", "field"]

    work = tempfile.mkdtemp(prefix="kx_browser_")
    server = subprocess.Popen([program, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    url = server.stdout.readline().strip()
    check(url.startswith("http://127.0.0.1:"), f"the server prints its address ({url})")
    drivers = []
    try:
        d = browser(os.path.join(work, "profile1"), work)
        drivers.append(d)
        d.get(url)
        wait_run(d, 0)
        timing = d.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "const r = performance.getEntriesByType('resource');"
            "return {load: n.loadEventEnd - n.startTime,"
            " bytes: n.transferSize + r.reduce((s, e) => s + e.transferSize, 0),"
            " body: n.decodedBodySize + r.reduce((s, e) => s + e.decodedBodySize, 0),"
            " files: r.length + 1}")
        first = d.find_element(By.ID, "results").get_attribute("data-first-ms")
        print(f"first load: {timing['load']:.0f} ms to the load event, {first} ms to the first result, "
              f"{timing['bytes']} bytes in {timing['files']} files")
        check(timing["bytes"] <= 300 * 1024, "the first page load is at most 300 KB")

        # The 10 dB example, typed in millimetres: the field solver's answer.
        d.find_element(By.NAME, "units").send_keys("mm")
        for name, value in {**EXAMPLE, **TARGET}.items():
            edit(d, name, value)
        target = ["--zo", "50", "--coupling", "10", "--f", "2.4"]
        want = cli(program, "synthesise", *section, *target, *field)["rows"][0]
        w, s = want["w_mm"], want["s_mm"]
        check(synthesised(d) == (w, s), f"synthesised W and S {synthesised(d)} mm are the field solver's ({w}, {s})")
        print(f"synthesis recompute-to-figures: {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")

        # The model switch: the closed forms give other numbers, their own.
        choose(d, "model", "closed")
        closed = cli(program, "synthesise", *section, *target, "--model", "closed")["rows"][0]
        check(synthesised(d) == (closed["w_mm"], closed["s_mm"]) and closed["s_mm"] != s,
              f"with the closed forms W and S are theirs {synthesised(d)}, not the field solver's")
        check(d.find_element(By.NAME, "coatt").get_attribute("disabled") is not None,
              "the closed forms leave the coating inputs disabled")
        choose(d, "model", "field")

        # A coating changes the numbers, to the subcommand's.
        edit(d, "coatt", "0.02")
        edit(d, "coater", "3.5")
        coated = cli(program, "synthesise", *section, *target, *field,
                     "--coat-thickness", "0.02", "--coat-er", "3.5")["rows"][0]
        check(synthesised(d) == (coated["w_mm"], coated["s_mm"]) and coated["s_mm"] != s,
              f"a coating gives the subcommand's coated W and S {synthesised(d)}")
        coats = d.execute_script("return document.querySelectorAll('#section .coat').length")
        check(coats == 3, f"the drawing shows the coating over the substrate and both strips ({coats} shapes)")
        edit(d, "coatt", None)
        edit(d, "coater", None)

        # An open section: no cover drawn, the numbers the subcommand's.
        edit(d, "h2", "inf")
        drawing = d.execute_script(
            "const svg = document.getElementById('section'); const v = svg.viewBox.baseVal;"
            "return {metal: svg.querySelectorAll('.metal').length, ratio: v.height / v.width,"
            " text: svg.textContent}")
        opened = cli(program, "synthesise", *[v if v != "6.35" else "inf" for v in section], *target, *field)
        check(drawing["metal"] == 3 and "no cover" in drawing["text"] and 0.2 < drawing["ratio"] < 0.8
              and synthesised(d) == (opened["rows"][0]["w_mm"], opened["rows"][0]["s_mm"]),
              f"H2 inf draws no cover, scaled ({drawing['metal']} metal shapes, height/width "
              f"{drawing['ratio']:.2f}) and gives the subcommand's W and S")
        edit(d, "h2", "6.35")

        before = runs(d)
        d.find_element(By.ID, "syn-use").click()
        wait_run(d, before)

        # The analysis tab opens inside the models' ranges.
        select_tab(d, "analysis")
        status = d.find_element(By.ID, "status").text
        sweep = status.split("S from ")[1].split(" in steps of ")
        lo, hi = sweep[0].split(" to ")
        rows = cli(program, "analyse", *section, *field, "--w", str(w), "--s-range",
                   f"{lo}:{hi}:{sweep[1]}", "--f", "2.4")["rows"]
        sets = d.execute_script(
            "return Chart.getChart(document.getElementById('chart-analysis')).data.datasets.map(s => s.label)")
        check(len(rows) >= 10 and not any(r["flags"] for r in rows) and len(sets) == 4
              and d.find_element(By.ID, "messages").text == "",
              f"the first sweep ({status}) has no flagged rows and no warning")
        # Flagged points: triangles, in the legend, named in the tooltip.
        edit(d, "amin", "0.02")
        flagged = d.execute_script(
            "const c = Chart.getChart(document.getElementById('chart-analysis'));"
            "const f = c.data.datasets.filter(s => s.flagged);"
            "const item = c.legend.legendItems.find(i => c.data.datasets[i.datasetIndex].flagged);"
            "const label = c.options.plugins.tooltip.callbacks.label({raw: f[0].data[0], dataset: f[0]});"
            "return {points: f.reduce((n, s) => n + s.data.length, 0), style: f[0].pointStyle,"
            " legend: item && item.pointStyle, tooltip: label}")
        step = d.find_element(By.ID, "status").text.split(" in steps of ")[1].split(";")[0]
        rows = cli(program, "analyse", *section, *field, "--w", str(w), "--s-range",
                   f"0.02:{hi}:{step}", "--f", "2.4")["rows"]
        n_flagged = sum(1 for r in rows if r["flags"])
        check(n_flagged > 0 and flagged["points"] == 4 * n_flagged and flagged["style"] == "triangle"
              and flagged["legend"] == "triangle" and "S below 2 T" in flagged["tooltip"],
              f"{n_flagged} flagged rows are triangles on the 4 curves, in the legend, named in the tooltip "
              f"({flagged['tooltip']!r})")
        edit(d, "amin", None)

        # Bad input: named beside its input, in view; the results wait, faded.
        edit(d, "w", "-1")
        m = message(d, "w")
        stale = "stale" in d.find_element(By.ID, "results").get_attribute("class")
        check(m is not None and m["text"] == "must be above 0" and m["invalid"] and m["inView"] and m["beside"]
              and stale, f"W = -1 is named beside W, in view ({m})")
        edit(d, "w", str(w))
        check(message(d, "w") is None, "a good W clears its message")
        edit(d, "h", None)
        m = message(d, "h")
        check(m is not None and m["text"] == "needed" and m["inView"], f"an empty H is named beside H ({m})")
        edit(d, "h", "0.508")
        # The field solver takes a cover above the strips; the closed forms
        # from twice H.
        edit(d, "h2", "0.9")
        check(message(d, "h2") is None, "the field solver takes H2 below 2 H")
        edit(d, "h2", "0.03")
        m = message(d, "h2")
        check(m is not None and "above T" in m["text"], f"H2 below the strips is named beside H2 ({m})")
        edit(d, "h2", "0.9")
        choose(d, "model", "closed")
        m = message(d, "h2")
        check(m is not None and "twice H" in m["text"],
              f"H2 below 2 H is named beside H2 with the closed forms ({m})")
        choose(d, "model", "field")
        edit(d, "h2", "6.35")

        select_tab(d, "response")
        # The program's refusal placed beside the input it names.
        edit(d, "fstep", "0.00001")
        m = message(d, "fstart")
        check(m is not None and "too many points" in m["text"] and m["inView"],
              f"the program's refusal of the range is shown beside it ({m})")
        edit(d, "fstep", "0.01")
        response = cli(program, "response", *section, *field, "--w", str(w), "--s", str(s),
                       "--f-range", "0.5:4.5:0.01", "--centre", "2.4")
        n = len(response["rows"])
        got = points(d, "chart-response")
        check(got == [n] * 4, f"the response chart holds the subcommand's {n} points in each of 4 curves ({got})")
        s21 = first_series(d, "chart-response")
        check(s21 == [r["s11_db"] for r in response["rows"]], "the response chart's |S11| is the subcommand's")

        edit(d, "er", "3.5")
        check(first_series(d, "chart-response") != s21, "a changed Er redraws the response")
        edit(d, "er", "3.66")
        check(first_series(d, "chart-response") == s21, "Er back to 3.66 gives the same curve again")
        taken, requests = timed_edits(d, "er", ["3.5", "3.66"] * 4)
        print(f"response edit-to-plot (401 points, field solver), median of 8 edits: {median(taken)} ms "
              f"({taken}), the request {median(requests)} ms of it")

        # The address reproduces the design in a fresh tab.
        address = d.current_url
        d.switch_to.new_window("tab")
        d.get(address)
        wait_run(d, 0)
        same = [d.find_element(By.NAME, n).get_attribute("value") for n in ("w", "s", "er", "h", "units", "model")]
        check(same == [str(w), str(s), "3.66", "0.508", "mm", "field"], f"the address restores the design ({same})")
        check(points(d, "chart-response") == [n] * 4 and first_series(d, "chart-response") == s21,
              "the address reproduces the response in a fresh tab")

        # The Touchstone download, loaded with scikit-rf.
        d.find_element(By.ID, "touchstone").click()
        path = os.path.join(work, "coupler.s4p")
        end = time.time() + 20
        while not os.path.exists(path) and time.time() < end:
            time.sleep(0.05)
        check(os.path.exists(path), "the Touchstone file downloads as coupler.s4p")
        import skrf
        net = skrf.Network(path)
        worst = max(abs(20 * math.log10(abs(net.s[k, 1, 0])) - row["s21_db"])
                    for k, row in enumerate(response["rows"]))
        check(net.nports == 4 and len(net.f) == n and worst < 1e-3,
              f"scikit-rf reads 4 ports at {len(net.f)} frequencies; |S21| within {worst:.1e} dB")

        # Keyboard: the tab list answers the arrow keys.
        tab = d.find_element(By.ID, "tab-response")
        tab.send_keys(Keys.ARROW_RIGHT)
        wait_run(d, runs(d) - 1)
        check(d.find_element(By.ID, "tab-tolerance").get_attribute("aria-selected") == "true"
              and d.switch_to.active_element.get_attribute("id") == "tab-tolerance",
              "ArrowRight moves to the next tab and focuses it")
        wait_run(d, runs(d) - 1, timeout=60)
        hists = [points(d, c) for c in ("chart-hist-coupling", "chart-hist-zo")]
        check(all(h is not None and h[0] == 40 for h in hists),
              "the tolerance tab draws the histograms of coupling and Zo (40 bins)")
        # An etch tolerance and a band: the yield and the histogram are the
        # subcommand's, on the coupler's coupling.
        edit(d, "toletch", "0.0076")
        edit(d, "tolh", "5%")
        edit(d, "bstart", "2.2")
        edit(d, "bstop", "2.6")
        edit(d, "bstep", "0.1")
        print(f"tolerance (10000 samples, etch, 5-frequency band) recompute-to-plot: "
              f"{d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")
        want_tol = cli(program, "tolerance", *section, *field, "--w", str(w), "--s", str(s), "--f", "2.4",
                       "--centre", "2.4", "--tol-w", "0.0127", "--tol-s", "0.0127", "--tol-h", "5%",
                       "--tol-h2", "0", "--tol-t", "0", "--tol-er", "0.05", "--tol-etch", "0.0076",
                       "--dist", "normal", "--samples", "10000", "--seed", "1", "--f-range", "2.2:2.6:0.1",
                       "--limit", "coupled_db=9.5:10.5", "--limit", "zo=48:52")
        limit = next(r for r in want_tol["rows"] if r["kind"] == "limit" and r["figure"] == "coupled_db")
        hist = next(r for r in want_tol["rows"] if r["kind"] == "figure" and r["figure"] == "coupled_db")
        cells = [c.text for c in d.find_elements(By.CSS_SELECTOR, "#tol-yield tbody tr:first-child td")]
        bars = d.execute_script(
            "const c = Chart.getChart(document.getElementById('chart-hist-coupling'));"
            "return {y: c.data.datasets[0].data.map(p => p.y), label: c.data.datasets[0].label}")
        check(len(cells) == 6 and "|S21|" in cells[0] and cells[1] == "yes"
              and cells[4] == f"{limit['yield_pct']:.2f}" and limit["over_band"],
              f"the tolerance tab reports the band yield of the coupler's coupling ({cells})")
        check(bars["y"] == hist["histogram"] and "|S21|" in bars["label"],
              f"it plots the coupling the yield is on: {bars['label']!r}")
        for t in ("analysis", "synthesis"):
            select_tab(d, t)
            print(f"{t} recompute-to-plot: {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")
        select_tab(d, "analysis")
        taken, requests = timed_edits(d, "er", ["3.5", "3.66"] * 4)
        print(f"analysis edit-to-plot (field solver sweep), median of 8 edits: {median(taken)} ms "
              f"({taken}), the request {median(requests)} ms of it")

        select_tab(d, "diffpair")
        status = d.find_element(By.ID, "status").text
        available = d.execute_script(
            "return fetch('/api/diffpair', {method: 'POST', headers: {'Content-Type': 'application/json'},"
            " body: '{}'}).then(r => r.status !== 404)")
        check(available or status == "not available in this build",
              f"the differential pair tab says whether this build has it ({status!r})")
        if available:
            want_dp = cli(program, "diffpair", *section, *field, "--w", str(w), "--s", str(s), "--f", "2.4")["rows"][0]
            shown = dict(zip([e.text for e in d.find_elements(By.CSS_SELECTOR, "#dp-figures dt")],
                             [e.text for e in d.find_elements(By.CSS_SELECTOR, "#dp-figures dd")]))
            check(float(shown.get("Zdiff (ohm)", "nan")) == want_dp["zdiff_ohm"],
                  f"the differential pair's Zdiff {shown.get('Zdiff (ohm)')} is the subcommand's {want_dp['zdiff_ohm']}")
            check(not any("_" in k for k in shown),
                  f"the differential pair's labels are words, not keys ({list(shown)})")

        # The accuracy check: its advice is one click.
        choose(d, "model", "closed")
        select_tab(d, "check")
        want_check = cli(program, "check", *section, "--w", str(w), "--s", str(s), "--f", "2.4")
        verdict = d.find_element(By.ID, "check-verdict").text
        rows = len(d.find_elements(By.CSS_SELECTOR, "#check-figures dd"))
        button = d.find_element(By.ID, "check-use-field")
        check(verdict == want_check["summary"]["verdict"].replace("use --model field", "choose the field solver (Model)")
              and rows == len(want_check["rows"]) and want_check["summary"]["closed_form_off"]
              and button.is_displayed(),
              f"the accuracy check shows the subcommand's verdict ({verdict!r}), its {rows} figures "
              "and a button for its advice")
        before = runs(d)
        button.click()
        wait_run(d, before)
        check(d.find_element(By.NAME, "model").get_attribute("value") == "field" and not button.is_displayed(),
              "the button switches the page to the field solver")

        # The loss tab: the subcommand's attenuation per 100 mm, with its shares;
        # a material by name and a roughness model from the lists.
        select_tab(d, "loss")
        print(f"loss recompute-to-plot (199 frequencies): {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")
        loss_args = [*section, "--w", str(w), "--s", str(s), "--res", "1.7", "--f-range", "0.1:20:0.1"]
        want_loss = cli(program, "loss", *loss_args, "--sr", "2.5", "--tlos", "0")["rows"]
        sets = d.execute_script(
            "return Chart.getChart(document.getElementById('chart-loss')).data.datasets.map(s => s.label)")
        check(points(d, "chart-loss") == [len(want_loss)] * 6 and "Differential, conductor" in sets
              and first_series(d, "chart-loss") == [100 * r["alpha_diff_db_per_mm"] for r in want_loss],
              f"the loss tab plots the subcommand's {len(want_loss)} frequencies in dB per 100 mm ({sets})")
        choose(d, "lmat", "fr4_like")
        choose(d, "lrough", "huray")
        no_er = [a for k, a in enumerate(section) if a != "--er" and (k == 0 or section[k - 1] != "--er")]
        want_loss = cli(program, "loss", *no_er, "--w", str(w), "--s", str(s), "--res", "1.7", "--f-range",
                        "0.1:20:0.1", "--material", "fr4_like", "--roughness",
                        "huray:radius=0.5,spheres=14,side=5.8")["rows"]
        dielectric = d.execute_script(
            "return Chart.getChart(document.getElementById('chart-loss')).data.datasets[2].data.map(p => p.y)")
        check(first_series(d, "chart-loss") == [100 * r["alpha_diff_db_per_mm"] for r in want_loss]
              and dielectric == [100 * r["alpha_d_diff_db_per_mm"] for r in want_loss] and dielectric[-1] > 0,
              "fr4_like with Huray roughness gives the subcommand's losses and a dielectric share")
        edit(d, "lsph", "-3")
        m = message(d, "lsph")
        check(m is not None and m["text"] == "must be above 0" and m["inView"], f"a bad sphere count is named beside it ({m})")
        edit(d, "lsph", "14")
        choose(d, "lmat", "design")
        choose(d, "lrough", "")

        # A stripline pair from the structure picker: the subcommand's
        # figures, the section drawn as solved, the address that restores it.
        choose(d, "structure", "stripline-pair")
        check(d.find_element(By.ID, "tab-loss").get_attribute("aria-selected") == "true"
              and d.find_element(By.ID, "tab-line").is_displayed()
              and not d.find_element(By.ID, "tab-response").is_displayed()
              and not d.find_element(By.NAME, "h2").is_displayed(),
              "the structure picker shows the structure's inputs and tabs, the loss tab kept")
        select_tab(d, "line")
        for name, value in {"h": "0.2", "er": "4.2", "t": "0.035", "w": "0.15", "s": "0.2"}.items():
            edit(d, name, value)
        line_args = ["--structure", "stripline-pair", "--h", "0.2", "--er", "4.2", "--t", "0.035", "--units", "mm"]
        pair = next(r for r in cli(program, "line", *line_args, "--w", "0.15", "--s", "0.2")["rows"]
                    if r["kind"] == "pair")
        shown = d.find_element(By.ID, "line-zdiff").text
        drawing = d.execute_script(
            "const svg = document.getElementById('section');"
            "return {metal: svg.querySelectorAll('.metal').length, layers: svg.querySelectorAll('.substrate').length,"
            " text: svg.textContent}")
        check(shown == f"{pair['zdiff_ohm']:.3f}", f"the stripline pair's Zdiff {shown} is the subcommand's {pair['zdiff_ohm']}")
        check(drawing["metal"] == 4 and drawing["layers"] == 2 and "S 0.2" in drawing["text"],
              f"the drawing shows two planes, two traces and the two layers ({drawing})")
        edit(d, "h", "-1")
        m = message(d, "h")
        check(m is not None and m["text"] == "must be above 0" and m["inView"], f"H = -1 is named beside H ({m})")
        edit(d, "h", "0.2")
        edit(d, "ef", "0.1")
        m = message(d, "ef")
        check(m is not None and "no top" in m["text"] and m["inView"],
              f"the program's refusal of the etch factor is shown beside it ({m})")
        edit(d, "ef", None)
        taken, requests = timed_edits(d, "er", ["4.0", "4.2"] * 4)
        print(f"stripline pair edit-to-figures (one field solution), median of 8 edits: {median(taken)} ms "
              f"({taken}), the request {median(requests)} ms of it")
        select_tab(d, "linesyn")
        choose(d, "lfind", "w_s")
        found = cli(program, "line", *line_args, "--zdiff", "100", "--zcomm", "30")["summary"]
        got = (float(d.find_element(By.ID, "linesyn-w").text), float(d.find_element(By.ID, "linesyn-s").text))
        check(got == (found["w_mm"], found["s_mm"]), f"W and S for Zdiff 100 and Zcomm 30 are the subcommand's {got}")
        # Its loss: the subcommand's on the same board cross-section.
        select_tab(d, "loss")
        want_loss = cli(program, "loss", *line_args, "--w", "0.15", "--s", "0.2", "--tand", "0",
                        "--f-range", "0.1:20:0.1")["rows"]
        check(points(d, "chart-loss") == [len(want_loss)] * 6
              and first_series(d, "chart-loss") == [100 * r["alpha_diff_db_per_mm"] for r in want_loss],
              f"the stripline pair's loss tab plots the subcommand's {len(want_loss)} frequencies")
        select_tab(d, "line")
        address = d.current_url
        d.switch_to.new_window("tab")
        d.get(address)
        wait_run(d, 0)
        check(d.find_element(By.NAME, "structure").get_attribute("value") == "stripline-pair"
              and d.find_element(By.ID, "line-zdiff").text == shown
              and d.execute_script("return document.querySelectorAll('#section .metal').length") == 4,
              "the address restores the stripline pair, its figures and its drawing in a fresh tab")
        # An address from before the picker opens the coupler.
        d.get(url + "?er=3.66&h=0.508&h2=6.35&t=0.035&w=0.8757&s=0.1175&units=mm&tab=response")
        wait_run(d, 0)
        check(d.find_element(By.NAME, "structure").get_attribute("value") == "coupler"
              and d.find_element(By.ID, "tab-response").get_attribute("aria-selected") == "true"
              and points(d, "chart-response") is not None,
              "an address of the coupler page without a structure opens the coupler's response")
        d.close()
        d.switch_to.window(d.window_handles[-1])
        # The broadside pair takes the dielectrics above and between its traces.
        choose(d, "structure", "broadside-pair")
        pair = next(r for r in cli(program, "line", "--structure", "broadside-pair", "--h", "0.2", "--er", "4.2",
                                   "--t", "0.035", "--w", "0.15", "--h-above", "0.2", "--h-between", "0.2",
                                   "--units", "mm")["rows"] if r["kind"] == "pair")
        shown = d.find_element(By.ID, "line-zdiff").text
        check(shown == f"{pair['zdiff_ohm']:.3f}" and not d.find_element(By.NAME, "s").is_displayed(),
              f"the broadside pair's Zdiff {shown} is the subcommand's {pair['zdiff_ohm']}, without a gap S")
        choose(d, "structure", "coupler")

        light = d.execute_script("return getComputedStyle(document.body).backgroundColor")
        d.execute_cdp_cmd("Emulation.setEmulatedMedia",
                          {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        dark = d.execute_script("return getComputedStyle(document.body).backgroundColor")
        check(light != dark, f"the page follows the dark theme ({light} -> {dark})")
        d.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

        d.set_window_size(420, 900)
        width = d.execute_script("return document.documentElement.scrollWidth")
        check(width <= 420, f"a narrow window needs no sideways scrolling ({width} px)")

        logs = [e["message"] for w_ in drivers for e in w_.get_log("browser")]
        bad = [m for m in logs if "Content Security Policy" in m or "Refused" in m or "Uncaught" in m]
        check(not bad, "nothing breaks the content policy or throws: " + "; ".join(bad[:3]))

        if args.screenshot:
            d.set_window_size(1400, 1000)
            d.switch_to.window(d.window_handles[0])
            select_tab(d, "response")
            d.save_screenshot(args.screenshot)
            print(f"screenshot: {args.screenshot}")
        if args.timing:
            load, first, all_firsts = timing_runs(url, work, args.timing)
            print(f"first load without the cache, median of {args.timing}: {load:.0f} ms to the load event, "
                  f"{first} ms to the first result ({all_firsts})")
    finally:
        for d in drivers:
            d.quit()
        server.send_signal(signal.SIGTERM)
        status = server.wait(timeout=20)
        check(status == 0, f"SIGTERM ends the server with status 0 ({status})")
        shutil.rmtree(work, ignore_errors=True)
    print(f"browser test: {PASSED[0]} passed, {len(FAILURES)} failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
