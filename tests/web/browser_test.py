#!/usr/bin/python3
"""The web page in a real browser (headless Chromium through Selenium).

    /usr/bin/python3 tests/web/browser_test.py build/app/kestrelix [--screenshot doc/web.png]

Starts `kestrelix serve` on a free port, types the 10 dB example into the
page and checks that the synthesised W and S are the subcommand's, that the
response chart holds the subcommand's points, that a changed input redraws
it, that the address reproduces the design in a fresh tab, that the
Touchstone download loads in scikit-rf with the subcommand's |S21|, that the
tabs work from the keyboard, that the page follows the dark theme and that
nothing on it breaks the content policy. Prints the page's size and timings.
Exits 0 when every check passes.
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--screenshot")
    args = ap.parse_args()
    program = os.path.abspath(args.program)

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
        print(f"first load: {timing['load']:.0f} ms, {timing['bytes']} bytes in {timing['files']} files")
        check(timing["bytes"] <= 300 * 1024, "the first page load is at most 300 KB")

        # The 10 dB example, typed in millimetres.
        d.find_element(By.NAME, "units").send_keys("mm")
        for name, value in {**EXAMPLE, **TARGET}.items():
            before = runs(d)
            type_into(d, name, value)
            wait_run(d, before)
        want = cli(program, "synthesise", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035",
                   "--units", "mm", "--zo", "50", "--coupling", "10", "--f", "2.4")["rows"][0]
        w, s = want["w_mm"], want["s_mm"]
        page_w = d.find_element(By.ID, "syn-w").text
        page_s = d.find_element(By.ID, "syn-s").text
        check(float(page_w) == w and float(page_s) == s,
              f"synthesised W {page_w} and S {page_s} mm are the subcommand's ({w}, {s})")
        print(f"synthesis recompute-to-figures: {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")

        before = runs(d)
        d.find_element(By.ID, "syn-use").click()
        wait_run(d, before)
        select_tab(d, "response")
        response = cli(program, "response", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035",
                       "--units", "mm", "--w", str(w), "--s", str(s), "--f-range", "0.5:4.5:0.01",
                       "--centre", "2.4")
        n = len(response["rows"])
        got = points(d, "chart-response")
        check(got == [n] * 4, f"the response chart holds the subcommand's {n} points in each of 4 curves ({got})")
        s21 = first_series(d, "chart-response")
        print(f"response recompute-to-plot: {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")

        before = runs(d)
        type_into(d, "er", "3.5")
        wait_run(d, before)
        check(first_series(d, "chart-response") != s21, "a changed Er redraws the response")
        before = runs(d)
        type_into(d, "er", "3.66")
        wait_run(d, before)
        check(first_series(d, "chart-response") == s21, "Er back to 3.66 gives the same curve again")
        taken = []
        for k in range(8):
            before = runs(d)
            type_into(d, "er", ("3.5", "3.66")[k % 2])
            wait_run(d, before)
            taken.append(int(d.find_element(By.ID, "results").get_attribute("data-ms")))
        print(f"response recompute-to-plot, median of 8 edits: {sorted(taken)[4]} ms ({taken})")

        # The address reproduces the design in a fresh tab.
        address = d.current_url
        d.switch_to.new_window("tab")
        d.get(address)
        wait_run(d, 0)
        same = [d.find_element(By.NAME, n).get_attribute("value") for n in ("w", "s", "er", "h", "units")]
        check(same == [str(w), str(s), "3.66", "0.508", "mm"], f"the address restores the design ({same})")
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
        print(f"tolerance (10000 samples) recompute-to-plot: "
              f"{d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")
        hists = [points(d, c) for c in ("chart-hist-coupling", "chart-hist-zo")]
        check(all(h is not None and h[0] == 40 for h in hists),
              "the tolerance tab draws the histograms of coupling and Zo (40 bins)")
        for t in ("analysis", "synthesis"):
            select_tab(d, t)
            print(f"{t} recompute-to-plot: {d.find_element(By.ID, 'results').get_attribute('data-ms')} ms")
        select_tab(d, "diffpair")
        status = d.find_element(By.ID, "status").text
        available = d.execute_script(
            "return fetch('/api/diffpair', {method: 'POST', headers: {'Content-Type': 'application/json'},"
            " body: '{}'}).then(r => r.status !== 404)")
        check(available or status == "not available in this build",
              f"the differential pair tab says whether this build has it ({status!r})")
        if available:
            want_dp = cli(program, "diffpair", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035",
                          "--units", "mm", "--w", str(w), "--s", str(s), "--f", "2.4")["rows"][0]
            shown = dict(zip([e.text for e in d.find_elements(By.CSS_SELECTOR, "#dp-figures dt")],
                             [e.text for e in d.find_elements(By.CSS_SELECTOR, "#dp-figures dd")]))
            check(float(shown.get("Zdiff (ohm)", "nan")) == want_dp["zdiff_ohm"],
                  f"the differential pair's Zdiff {shown.get('Zdiff (ohm)')} is the subcommand's {want_dp['zdiff_ohm']}")
            check(not any("_" in k for k in shown),
                  f"the differential pair's labels are words, not keys ({list(shown)})")

        select_tab(d, "check")
        want_check = cli(program, "check", "--er", "3.66", "--h", "0.508", "--h2", "6.35", "--t", "0.035",
                         "--units", "mm", "--w", str(w), "--s", str(s), "--f", "2.4")
        verdict = d.find_element(By.ID, "check-verdict").text
        rows = len(d.find_elements(By.CSS_SELECTOR, "#check-figures dd"))
        check(verdict == want_check["summary"]["verdict"] and rows == len(want_check["rows"]),
              f"the accuracy check shows the subcommand's verdict ({verdict!r}) and its {rows} figures")

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
