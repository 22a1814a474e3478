#!/usr/bin/env python3
"""Random and malformed requests against `kestrelix serve`.

    python3 tests/web/fuzz_api.py build/app/kestrelix [--seconds 60] [--seed 1]

Sends, from a few threads at once, random and malformed JSON bodies (huge,
tiny and non-finite numbers, NaN strings, wrong types, deep nesting, bad
UTF-8), requests with wrong methods, paths, Host and Origin headers and
content types, truncated and garbage requests on raw sockets, oversized
headers and bodies, and a few slow clients that never finish their request.
Every reply must be a 2xx or 4xx (a 4xx with a JSON error: {"error": text,
"details": [...]}); at the end the server must still answer and stop with
status 0 at SIGTERM, and its resident memory at the end must be within 8 MB
of its memory after the first third of the run (which warms it up: worker
threads, their stacks, the allocator's arenas). Exits 0 when all of that
holds.
"""
import argparse
import http.client
import json
import random
import signal
import socket
import subprocess
import sys
import threading
import time
from urllib.parse import quote

COMMANDS = ["analyse", "response", "dispersion", "sensitivity", "synthesise", "tolerance", "diffpair", "check",
            "line", "loss"]
OPTIONS = ["er", "h", "h2", "w", "s", "t", "res", "sr", "tlos", "units", "f", "f-range", "w-range", "s-range",
           "centre", "length", "rs", "rl", "zo", "coupling", "coupling-range", "zoe-range", "mode", "tol-w",
           "tol-s", "tol-h", "tol-er", "dist", "samples", "seed", "threads", "limit", "no-radiation", "reference",
           "touchstone", "samples-out", "defaults", "format", "help", "version", "f_range", "tol_w", "x", "Er",
           "--er", "", "a" * 60, "é",
           # kestrelix line and loss
           "structure", "pair", "h-above", "er-above", "h-between", "offset", "ground-gap", "ground-width",
           "etch-factor", "top-w", "mask-over-trace", "mask-er", "z0", "zdiff", "zcomm", "pitch", "neighbour",
           "both-sides", "accuracy", "tol-t", "tol-etch", "stackup", "kicad", "layer", "material", "materials",
           "dk", "df", "f-datasheet", "dielectric-model", "roughness", "roughness-top", "conductor", "resistivity"]
GOOD = {"er": 3.66, "h": 0.508, "h2": 6.35, "t": 0.035, "w": 0.8725, "s": 0.0942, "units": "mm",
        "f": 2.4, "f-range": "0.5:4.5:0.5", "centre": 2.4, "zo": 50, "coupling": 10, "w-range": "0.5:1:0.1",
        "samples": 200, "tol-w": 0.0127}
GOOD_LINE = {"structure": "stripline-pair", "h": 0.2, "er": 4.2, "t": 0.035, "w": 0.15, "s": 0.2, "units": "mm"}
GOOD_LOSS = {**{k: GOOD[k] for k in ("er", "h", "h2", "t", "w", "s", "units")}, "f-range": "0.5:20:0.5",
             "roughness": "huray:radius=0.5,spheres=14,side=5.8"}


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def number(rng):
    return rng.choice([0, -0.0, 1, -1, 3.66, 1e308, -1e308, 5e-324, 1e-30, 2 ** 63, -(2 ** 63), 2 ** 64,
                       10 ** 30, rng.uniform(-1e6, 1e6), rng.uniform(0, 10), rng.randint(-5, 100000000)])


def text(rng):
    return rng.choice(["nan", "NaN", "inf", "-inf", "Infinity", "", " ", "1e999", "-0", "0x10", "1:2:0",
                       "1:2:0.000001", "0:1e9:1e-9", "3.66\n--defaults=/etc/passwd", "--touchstone=/tmp/x",
                       "zo=48:52", "coupling_db=:", "mm", "mil", "um", "in", "furlong", "\u00e9\u4e2d",
                       "x" * rng.randint(1, 5000), str(number(rng)), f"{rng.uniform(0, 5)}:{rng.uniform(0, 5)}:0.1"])


def value(rng, depth=0):
    kind = rng.random()
    if kind < 0.35:
        return number(rng)
    if kind < 0.7:
        return text(rng)
    if kind < 0.8:
        return rng.choice([True, False, None])
    if kind < 0.9 and depth < 3:
        return [value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    if depth < 3:
        return {rng.choice(OPTIONS): value(rng, depth + 1)}
    return 1


def body(rng, path=""):
    kind = rng.random()
    if kind < 0.4:  # a good design with a few values spoiled
        b = dict(GOOD_LINE if path.endswith("/line") else GOOD_LOSS if path.endswith("/loss") else GOOD)
        for _ in range(rng.randint(1, 4)):
            b[rng.choice(OPTIONS)] = value(rng)
        return json.dumps(b).encode()
    if kind < 0.6:
        return json.dumps({rng.choice(OPTIONS): value(rng) for _ in range(rng.randint(0, 12))}).encode()
    if kind < 0.7:  # truncated
        raw = json.dumps(GOOD).encode()
        return raw[:rng.randint(0, len(raw))]
    if kind < 0.75:
        return b"[" * rng.randint(1, 30000)
    if kind < 0.8:
        return bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 300)))
    if kind < 0.85:
        return b'{"er": "\xff\xfe", "h": 1}'
    if kind < 0.9:
        return rng.choice([b"null", b"[]", b"1", b'"x"', b"{}", b"NaN", b'{"er": NaN}', b'{"er": Infinity}'])
    return json.dumps({"er": 3.66, "units": "mm", "x": "y" * rng.randint(60000, 70000)}).encode()


class Fuzz:
    def __init__(self, host, port, seed):
        self.host, self.port = host, port
        self.rng = random.Random(seed)
        self.lock = threading.Lock()
        self.counts = {}
        self.failures = []

    def note(self, status, what):
        with self.lock:
            self.counts[status] = self.counts.get(status, 0) + 1
            if what:
                self.failures.append(what)

    def judge(self, status, headers, data, request):
        problem = None
        if not (200 <= status < 300 or 400 <= status < 500 or status == 304):
            problem = f"status {status} for {request}"
        elif status >= 400:
            try:
                doc = json.loads(data)
                if not isinstance(doc.get("error"), str) or not isinstance(doc.get("details"), list):
                    problem = f"error reply without error/details for {request}: {data[:200]!r}"
            except ValueError:
                problem = f"error reply that is not JSON for {request}: {data[:200]!r}"
        if headers.get("Access-Control-Allow-Origin"):
            problem = f"a CORS header for {request}"
        self.note(status, problem)

    def http(self, rng):
        conn = http.client.HTTPConnection(self.host, self.port, timeout=30)
        method = rng.choice(["POST"] * 6 + ["GET", "PUT", "DELETE", "PATCH", "OPTIONS", "HEAD"])
        path = rng.choice([f"/api/{rng.choice(COMMANDS)}"] * 8 + [
            "/api/touchstone?" + "&".join(quote(rng.choice(OPTIONS)) + "=" + quote(str(value(rng)))
                                           for _ in range(rng.randint(0, 12))),
            "/", "/index.html", "/app.js", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/api/",
            "/api/../index.html", "/api/analyse?x=1", "/" + "a" * rng.randint(100, 9000), "/api/nosuch"])
        headers = {"Content-Type": rng.choice(["application/json"] * 8 + ["text/plain", "", "application/jsonx"])}
        r = rng.random()
        if r < 0.05:
            headers["Host"] = rng.choice(["attacker.example", "127.0.0.1", f"localhost:{self.port + 1}", ""])
        elif r < 0.1:
            headers["Origin"] = rng.choice(["http://attacker.example", "null", f"http://127.0.0.1:{self.port}"])
        payload = body(rng, path) if method in ("POST", "PUT", "PATCH") else None
        request = f"{method} {path[:80]} {payload[:80] if payload else b''!r}"
        try:
            conn.request(method, path, body=payload, headers=headers)
            resp = conn.getresponse()
            data = resp.read()
            if method == "HEAD":  # a reply without a body
                data = b'{"error": "", "details": []}' if resp.status >= 400 else data
            self.judge(resp.status, dict(resp.getheaders()), data, request)
        except (ConnectionError, http.client.HTTPException, socket.timeout) as e:
            # The server may close a connection whose request it refuses
            # before reading all of it (an oversized body).
            if payload is None or len(payload) < 60000:
                self.note("closed", f"{type(e).__name__} for {request}")
            else:
                self.note("closed", None)
        finally:
            conn.close()

    def raw(self, rng):
        good = json.dumps(GOOD).encode()
        req = (b"POST /api/analyse HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n"
               b"Content-Length: %d\r\n\r\n" % (self.port, len(good))) + good
        choice = rng.random()
        if choice < 0.3:
            data = req[:rng.randint(1, len(req) - 1)]  # truncated
        elif choice < 0.5:
            data = bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 2000)))
        elif choice < 0.6:
            data = b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX: %s\r\n\r\n" % (self.port, b"a" * 20000)
        elif choice < 0.7:
            data = b"GET / HTTP/1.0\r\n\r\n"  # no Host header
        elif choice < 0.8:
            data = req.replace(b"Content-Length: %d" % len(good), b"Content-Length: 99999999999999999999")
        elif choice < 0.9:
            data = req.replace(b"Content-Length: %d" % len(good), b"Transfer-Encoding: chunked") + b"\r\nzz\r\n"
        else:
            data = b"BREW /api/analyse HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % self.port
        with socket.create_connection((self.host, self.port), timeout=15) as s:
            try:
                s.sendall(data)
                s.shutdown(socket.SHUT_WR)
                reply = b""
                while len(reply) < 1 << 20:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    reply += chunk
            except (ConnectionError, socket.timeout):
                reply = b""
        if not reply:
            self.note("no reply", None)
            return
        head, _, rest = reply.partition(b"\r\n\r\n")
        try:
            status = int(head.split(b" ")[1])
        except (IndexError, ValueError):
            self.note("garbled", f"unreadable reply {reply[:100]!r}")
            return
        length = [int(h.split(b":")[1]) for h in head.split(b"\r\n") if h.lower().startswith(b"content-length:")]
        if length and len(rest) < length[0]:
            # The server closed a connection with unread input (a request it
            # refused half-way): the system resets it, and the tail of the
            # reply may be lost on the way.
            self.note("cut short", None)
            return
        self.judge(status, {}, rest if status >= 400 else b"", f"raw {data[:60]!r}")

    def slow(self, seconds):
        # Sends a request a byte at a time and never finishes it.
        with socket.create_connection((self.host, self.port), timeout=seconds + 10) as s:
            for b in b"POST /api/analyse HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le":
                s.send(bytes([b]))
                time.sleep(seconds / 60)
            try:
                s.recv(1024)
            except (ConnectionError, socket.timeout):
                pass
        self.note("slow", None)


def get(host, port, path):
    conn = http.client.HTTPConnection(host, port, timeout=30)
    conn.request("GET", path)
    r = conn.getresponse()
    r.read()
    conn.close()
    return r.status


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--max-requests", type=int, default=1000000)
    ap.add_argument("--hold", action="store_true", help="keep the server for a look before it is stopped")
    args = ap.parse_args()

    server = subprocess.Popen([args.program, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        url = server.stdout.readline().strip()
        host, port = "127.0.0.1", int(url.rsplit(":", 1)[1].strip("/"))
        fuzz = Fuzz(host, port, args.seed)
        sent = [0]

        def load(seconds, seed):
            # Fuzzing threads and a few slow clients for `seconds`.
            deadline = time.time() + seconds

            def worker(k):
                rng = random.Random(seed * 1000 + k)
                while time.time() < deadline and sent[0] < args.max_requests:
                    sent[0] += 1
                    if rng.random() < 0.8:
                        fuzz.http(rng)
                    else:
                        fuzz.raw(rng)

            threads = [threading.Thread(target=fuzz.slow, args=(min(8, seconds),)) for _ in range(8)]
            threads += [threading.Thread(target=worker, args=(k,)) for k in range(args.threads)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        # The first third warms the server up: its worker threads, their
        # stacks and the allocator's arenas are in place before the measure.
        load(args.seconds / 3, args.seed)
        time.sleep(1)
        before = rss_kb(server.pid)
        load(args.seconds * 2 / 3, args.seed + 1)
        alive = server.poll() is None and get(host, port, "/") == 200
        time.sleep(1)
        after = rss_kb(server.pid)
        if args.hold:
            input(f"server pid {server.pid}, RSS {after} kB; Enter stops it ")
    finally:
        if server.poll() is None:
            server.send_signal(signal.SIGTERM)
        code = server.wait(timeout=30)

    print(f"requests: {sent[0]} in {args.seconds:.0f} s on {args.threads} threads, with 8 slow clients")
    print("replies: " + ", ".join(f"{k}: {v}" for k, v in sorted(fuzz.counts.items(), key=str)))
    print(f"resident memory after the first third {before} kB, at the end {after} kB")
    failures = list(fuzz.failures)
    if not alive:
        failures.append("the server no longer answers")
    if code != 0:
        failures.append(f"SIGTERM ended the server with status {code}")
    if after > before + 8 * 1024:
        failures.append(f"resident memory grew by {after - before} kB")
    for f in failures[:20]:
        print("FAIL", f)
    print(f"fuzz: {sent[0] - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
