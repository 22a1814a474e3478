#!/usr/bin/env python3
"""How long a normal request waits while other clients keep the server busy.

    python3 tests/web/busy_api.py build/app/kestrelix [--busy 6] [--seconds 30] [--one-page]
                                                      [--points 99000]

`--busy` clients each loop on a 99,000-point field-solver sweep (`analyse
--model field`, stopped by the server's time limit; `--points` sets its
size: a few hundred points is a quick run, which shares the quick turns),
each on its own connection; with `--one-page` they name one page (the header the page
sends), as the requests of one browser tab would. Meanwhile another client
sends a 401-point response once a second and measures how long each takes.
Prints the median, 90th percentile and largest of those times. A
measurement, not a test: it exits 0 unless a normal request failed.
"""
import argparse
import http.client
import json
import signal
import statistics
import subprocess
import sys
import threading
import time

DESIGN = {"er": 3.66, "h": 0.508, "h2": 6.35, "t": 0.035, "w": 0.8725, "s": 0.0942, "units": "mm"}
SWEEP = {**{k: v for k, v in DESIGN.items() if k != "w"}, "model": "field", "w-range": "0.5:1.49:0.00001"}
NORMAL = {**DESIGN, "f-range": "0.5:4.5:0.01", "centre": 2.4}


def post(conn, command, body, headers):
    conn.request("POST", f"/api/{command}", json.dumps(body), {"Content-Type": "application/json", **headers})
    r = conn.getresponse()
    return r.status, r.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--busy", type=int, default=6)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--one-page", action="store_true")
    ap.add_argument("--points", type=int, default=99000)
    args = ap.parse_args()
    sweep = {**SWEEP, "w-range": f"0.5:1.5:{1.0 / args.points:.6g}"}

    server = subprocess.Popen([args.program, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    done = threading.Event()
    waits, failures, busy_runs = [], [], [0]
    try:
        port = int(server.stdout.readline().strip().rsplit(":", 1)[1].strip("/"))

        def busy(k):
            # Without a page's name, each connection is a client of its own.
            headers = {"Kestrelix-Client": "busy-page"} if args.one_page else {}
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            while not done.is_set():
                try:
                    post(conn, "analyse", sweep, headers)
                    busy_runs[0] += 1
                except (ConnectionError, http.client.HTTPException):
                    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)

        threads = [threading.Thread(target=busy, args=(k,)) for k in range(args.busy)]
        for t in threads:
            t.start()
        time.sleep(2)  # every busy client has asked
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        end = time.perf_counter() + args.seconds
        while time.perf_counter() < end:
            start = time.perf_counter()
            status, _ = post(conn, "response", NORMAL, {"Kestrelix-Client": "normal-page"})
            waits.append(time.perf_counter() - start)
            if status != 200:
                failures.append(status)
            time.sleep(max(0.0, 1.0 - waits[-1]))
        done.set()
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=60)
        for t in threads:
            t.join()

    q = statistics.quantiles(waits, n=10, method="inclusive") if len(waits) > 1 else waits * 9
    who = "one page" if args.one_page else "separate clients"
    print(f"{args.busy} busy clients ({who}) on {args.points}-point field sweeps, {busy_runs[0]} sweeps ended; "
          f"{len(waits)} normal requests (401-point response): wait median {statistics.median(waits):.2f} s, "
          f"p90 {q[8]:.2f} s, max {max(waits):.2f} s; {len(failures)} failed {failures[:5]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
