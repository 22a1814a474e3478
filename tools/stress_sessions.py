#!/usr/bin/env python3
"""Random-session stress test of the kestrelix program.

Thousands of random walks through the menus, each with answers drawn from
in-range, boundary, out-of-range, fractional, negative, huge, tiny, blank and
non-numeric values and file names, over a set of valid and faulty defaults
files. Answers and defaults-file lines are sometimes very long (text far past
the columns that are read, lines over 1 MiB, a last line without its end), and
/dev/full is among the output file names. Every run must end by itself with
status 0 (left through the OPERATION menu) or 1 (a documented error, always
with a message), never by a signal or a hang, and must leave the defaults file
unchanged.

A run whose answers ask for an enormous sweep (a step of 1E-9 over a range)
legitimately prints rows for a long time; its report is cut after a few
megabytes and the run is counted as a long report. A run that neither ends
nor writes within the time limit is a hang.
"""
import argparse
import os
import random
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

MENU = ["1", "2", "3", "", ""]
BOUNDARY = ["0", "0.5", "1.5", "2.5", "-473", "1.49", "0.4", "-0.5", "1.7", "0.9", "-1.1"]
OUT_OF_RANGE = ["9", "-5", "100", "7", "-2", "4"]
NEGATIVE = ["-1", "-10", "-0.001", "-20", "-6", "-3E2"]
HUGE = ["1e30", "-1e30", "3.4e38", "1E38", "1d10", "99999999999", "3.4028234e38"]
TINY = ["1e-9", "1e-30", "0.00005", "1e-45", "0.0001", "1E-12"]
PHYSICAL = ["0.025", "0.01", "0.005", "0.0007", "9.8", "2.2", "50", "10", "69.5", "20",
            "6", "0.25", "0.05", "0.1", "5", "2", "12", "0.6", "36", "90", "60"]
NON_NUMERIC = ["abc", "1,5", "--1", "1.2.3", "inf", "nan", "e5", "+", ".", "12x"]
NAMES = ["out.txt", "Kestrelix.DEF", "./Kestrelix.DEF", "kestrelix.def", "Kestrelix.EXE",
         "a_name_of_25_characters__", "nodir/x.txt", "report.xls", " spaced.txt", "Kestrelix.XLS", "/dev/full"]


def random_answer(rng):
    r = rng.random()
    if r < 0.30:
        return rng.choice(MENU)
    if r < 0.42:
        return rng.choice(BOUNDARY)
    if r < 0.50:
        return rng.choice(OUT_OF_RANGE)
    if r < 0.58:
        return "%.*f" % (rng.randint(0, 4), rng.uniform(0, 3))
    if r < 0.64:
        return rng.choice(NEGATIVE)
    if r < 0.68:
        return rng.choice(HUGE)
    if r < 0.72:
        return rng.choice(TINY)
    if r < 0.97:
        return rng.choice(PHYSICAL)
    if r < 0.985:
        return " " * rng.randint(0, 8) + rng.choice(PHYSICAL) + " " * 13 + "tail"
    if r < 0.996:
        return rng.choice(NAMES)
    if r < 0.998:
        return long_line(rng)
    return rng.choice(NON_NUMERIC)


def long_line(rng):
    """An answer far longer than the columns read: a field then a long tail."""
    head = rng.choice(MENU + PHYSICAL + NAMES[:2])
    return head.ljust(20) + rng.choice("x 9") * rng.choice([5000, 200000, 1200000])


def load_defaults_pool():
    pool = []
    with open(os.path.join(ROOT, "examples", "Kestrelix.DEF"), "rb") as f:
        pool.append(f.read())
    gold = os.path.join(ROOT, "tests", "golden")
    for dirpath, _, files in os.walk(gold):
        for name in files:
            if name.endswith(".DEF"):
                with open(os.path.join(dirpath, name), "rb") as f:
                    pool.append(f.read())
    return pool


def mutate_defaults(rng, text):
    lines = text.split(b"\n")
    kind = rng.random()
    if kind < 0.25 and len(lines) > 2:
        i = rng.randrange(1, len(lines))
        value = random_answer(rng).encode()
        lines[i] = value.ljust(13) + b" mutated entry"
    elif kind < 0.35:
        lines = lines[: rng.randrange(0, len(lines) + 1)]
    elif kind < 0.45:
        return b"\r\n".join(lines)
    elif kind < 0.60:
        # a long comment after the value (legal), or a line past 1 MiB (not a
        # defaults file), or a last line without its end
        i = rng.randrange(0, len(lines))
        lines[i] = lines[i].ljust(13) + b"c" * rng.choice([3000, 1100000])
        if rng.random() < 0.3:
            lines = lines[: i + 1]
            return b"\n".join(lines)
    elif kind < 0.65:
        return b"0" * rng.choice([1000, 1100000])  # one line, never ended
    elif kind < 0.72 and len(lines) > 12:
        # zero synthesis steps: Cstep. (line 12) and ZOEstep. (line 32)
        lines[11] = b"0            Cstep."
        if len(lines) > 31:
            lines[31] = b"0            ZOEstep."
    return b"\n".join(lines)


def run_one(args, seed):
    rng = random.Random(seed)
    pool = args.pool
    defaults = pool[0] if rng.random() < 0.5 else rng.choice(pool)
    if rng.random() < 0.35:
        defaults = mutate_defaults(rng, defaults)
    n = rng.randint(1, 400)
    answers = [random_answer(rng) for _ in range(n)]
    stdin = ("\n".join(answers) + ("\n" if rng.random() < 0.9 else "")).encode()

    work = tempfile.mkdtemp(prefix="kx_stress_")
    try:
        def_path = os.path.join(work, "Kestrelix.DEF")
        with open(def_path, "wb") as f:
            f.write(defaults)
        start = time.monotonic()
        proc = subprocess.Popen([args.binary], cwd=work, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)


        def feed():
            # A separate writer: long answers must not block the reading of
            # the console below.
            try:
                proc.stdin.write(stdin)
                proc.stdin.close()
            except (BrokenPipeError, ValueError, OSError):
                pass

        writer = threading.Thread(target=feed, daemon=True)
        writer.start()
        out = bytearray()
        cut = False
        fd = proc.stdout.fileno()
        while True:
            remaining = args.timeout - (time.monotonic() - start)
            if remaining <= 0:
                break
            ready, _, _ = select.select([fd], [], [], remaining)
            if not ready:
                break
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                break
            out += chunk
            if len(out) > args.max_output:
                cut = True
                proc.kill()
                break
            if time.monotonic() - start > args.timeout:
                break
        try:
            proc.wait(timeout=max(0.1, args.timeout - (time.monotonic() - start)))
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return ("hang", seed, defaults[:400], answers, bytes(out[-2000:]))
        writer.join(timeout=5)
        err = proc.stderr.read()
        with open(def_path, "rb") as f:
            if f.read() != defaults:
                return ("defaults file changed", seed, defaults, answers, err)
        if cut:
            return ("long", seed, None, n,
                    bytes(out).count(b"calculations completed"))
        if proc.returncode not in (0, 1):
            return ("status %d" % proc.returncode, seed, defaults, answers, err)
        if proc.returncode == 1 and not err and b"Kestrelix.DEF" not in bytes(out):
            return ("silent error exit", seed, defaults, answers, bytes(out[-2000:]))
        return ("status%d" % proc.returncode, seed, None, n,
                bytes(out).count(b"calculations completed"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("binary")
    ap.add_argument("--sessions", type=int, default=4000)
    ap.add_argument("--seed", type=int, default=20261207)
    ap.add_argument("--timeout", type=float, default=20.0)
    ap.add_argument("--max-output", type=int, default=4 << 20)
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    args.binary = os.path.abspath(args.binary)
    args.pool = load_defaults_pool()

    counts = {}
    failures = []
    answers_tried = 0
    runs = 0
    with ThreadPoolExecutor(max_workers=args.jobs) as ex:
        for result in ex.map(lambda s: run_one(args, s),
                             range(args.seed, args.seed + args.sessions)):
            kind = result[0]
            counts[kind] = counts.get(kind, 0) + 1
            if kind not in ("status0", "status1", "long"):
                failures.append(result)
                answers_tried += len(result[3])
            else:
                answers_tried += result[3]
                runs += result[4]
    print("stress: %d sessions, %d answers, %d runs completed; endings: %s" % (
        args.sessions, answers_tried, runs,
        ", ".join("%s %d" % kv for kv in sorted(counts.items()))))
    for kind, seed, defaults, answers, tail in failures[:5]:
        print("FAIL (%s) seed %d" % (kind, seed))
        print("  defaults: %r" % (defaults[:400],))
        print("  answers: %r" % ([a[:80] for a in answers],))
        print("  tail: %r" % (tail,))
    passed = args.sessions - len(failures)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
