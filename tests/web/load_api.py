#!/usr/bin/env python3
"""Fifty clients at once against `kestrelix serve`, while a tolerance run of
300 000 samples (each its own field solution, with the four-port) goes on.

    python3 tests/web/load_api.py build/app/kestrelix [--clients 50] [--requests 20]

Each client keeps one connection open and sends its requests one after the
other (401-point responses and syntheses); one more client asks for the
tolerance run. Every request must succeed with the command line's
document, and the clients must be served while the tolerance run goes on,
not after it: most of their requests end before it does. Prints the
latencies and the run's time. Exits 0 when all of that holds.
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
LIGHT = [("response", {**DESIGN, "f-range": "0.5:4.5:0.01", "centre": 2.4}),
         ("synthesise", {k: DESIGN[k] for k in ("er", "h", "h2", "t", "units")} | {"zo": 50, "coupling": 10, "f": 2.4})]
HEAVY = ("tolerance", {**DESIGN, "f": 2.4, "centre": 2.4, "tol-w": 0.0127, "tol-s": 0.0127, "tol-h": 0.0254,
                       "tol-er": 0.05, "samples": 300000, "limit": ["coupling_db=9.5:10.5"]})


def post(conn, command, body):
    conn.request("POST", f"/api/{command}", json.dumps(body), {"Content-Type": "application/json"})
    r = conn.getresponse()
    return r.status, r.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--clients", type=int, default=50)
    ap.add_argument("--requests", type=int, default=20)
    args = ap.parse_args()

    expected = {}
    for command, body in LIGHT:
        argv = [args.program, command]
        for k, v in body.items():
            argv += [f"--{k}", str(v)]
        expected[command] = subprocess.run(argv + ["--format", "json"], check=True, capture_output=True).stdout

    server = subprocess.Popen([args.program, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    failures, latencies, ends = [], [], []
    lock = threading.Lock()
    heavy = {}
    try:
        port = int(server.stdout.readline().strip().rsplit(":", 1)[1].strip("/"))

        def heavy_client():
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            start = time.perf_counter()
            status, data = post(conn, *HEAVY)
            heavy.update(status=status, seconds=time.perf_counter() - start, end=time.perf_counter())
            if status != 200 or json.loads(data).get("rows", json.loads(data).get("figures")) is None:
                with lock:
                    failures.append(f"tolerance: status {status}")

        def client(k):
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            for i in range(args.requests):
                command, body = LIGHT[(k + i) % len(LIGHT)]
                start = time.perf_counter()
                try:
                    status, data = post(conn, command, body)
                except (ConnectionError, http.client.HTTPException) as e:
                    status, data = f"{type(e).__name__} at request {i}", b""
                now = time.perf_counter()
                with lock:
                    latencies.append(now - start)
                    ends.append(now)
                    if status != 200 or data != expected[command]:
                        failures.append(f"client {k}: {command} status {status}")
            conn.close()

        h = threading.Thread(target=heavy_client)
        h.start()
        time.sleep(0.2)  # the tolerance run has started
        started = time.perf_counter()
        clients = [threading.Thread(target=client, args=(k,)) for k in range(args.clients)]
        for t in clients:
            t.start()
        for t in clients:
            t.join()
        served = time.perf_counter() - started
        h.join()
    finally:
        server.send_signal(signal.SIGTERM)
        code = server.wait(timeout=30)

    n = len(latencies)
    during = sum(1 for e in ends if e < heavy.get("end", 0))
    q = statistics.quantiles(latencies, n=20) if n > 1 else [0] * 19
    print(f"{args.clients} clients x {args.requests} requests: {n} in {served:.2f} s "
          f"({n / served:.0f} per second); latency median {statistics.median(latencies) * 1e3:.1f} ms, "
          f"p95 {q[18] * 1e3:.1f} ms, max {max(latencies) * 1e3:.1f} ms")
    print(f"tolerance, 300 000 samples with the four-port (field model): {heavy.get('seconds', 0):.2f} s; "
          f"{during} of {n} light requests ended before it did")
    if during < n // 2:
        failures.append("the light requests waited for the tolerance run")
    if code != 0:
        failures.append(f"SIGTERM ended the server with status {code}")
    for f in failures[:10]:
        print("FAIL", f)
    print(f"load: {n + 1 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
