#!/usr/bin/python3
"""The Python module's speed, run by hand (not in ctest):

  PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py

1. The overhead of one modes() call on numbers with the closed forms over
   the same work called from C++ (a fresh evaluator, the modes with their
   losses), per call.
2. The closed forms over 1e6 sections as one array call.
3. The field solver's fast path over 1e5 sections as one array call.
Wall-clock seconds, the best of a few runs; the machine's cores in use.
"""
import os
import time

import numpy as np

import kestrelix as kx

SEC = kx.Section(er=3.66, h=0.508, h2=6.35, w=0.87, s=0.12, t=0.035, units="mm")


def best(fn, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    print("cores: %d" % os.cpu_count())
    n = 100000
    # Interleaved, so that both see the same load of the machine.
    per_call, cxx = [], []
    for _ in range(5):
        per_call.append(best(lambda: [kx.modes(SEC, f=2.4, model="closed")
                                      for _ in range(n)], 1) / n)
        cxx.append(kx._kestrelix._cxx_modes_seconds(SEC, 2.4, n))
    per_call, cxx = min(per_call), min(cxx)
    print("modes() on numbers, closed forms: %.2f us a call, the C++ work %.2f us: "
          "overhead %.2f us" % (per_call * 1e6, cxx * 1e6, (per_call - cxx) * 1e6))

    w = np.linspace(0.2, 2.0, 1000000)
    t = best(lambda: kx.modes(SEC, w=w, f=2.4, model="closed"), 3)
    print("closed forms, 1e6 sections in one call: %.3f s (%.2f us a section)" % (t, t))

    w = np.linspace(0.2, 2.0, 100000)
    t = best(lambda: kx.modes(SEC, w=w, f=2.4, model="field"), 1)
    print("field solver's fast path, 1e5 sections in one call: %.3f s (%.1f us a section)"
          % (t, t * 10))


if __name__ == "__main__":
    main()
