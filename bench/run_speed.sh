#!/usr/bin/env bash
# Whole-process CPU time (user + system, the kernel's accounting of the
# finished child) of
#   - a 100 001-point impedance sweep with losses, output storage off and on,
#   - a 99 951-point frequency analysis with losses (0.01 .. 20 GHz by 0.0002),
#   - a 15-level dispersive coupling synthesis session (-6 .. -20 dB at 10 GHz),
#   - a session that ends at the first prompt (empty input: start-up, banner,
#     the end-of-input error),
# for this tree and for a base commit built side by side, then the model and
# formatting benchmarks (bench/speed_bench.cpp) of both.
#
# Usage: bench/run_speed.sh [runs]     (default 7 runs of each session)
# Environment: BASE_REV (default fc0fe46), WORK (default /tmp/kx_speed).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
base_rev=${BASE_REV:-fc0fe46}
work=${WORK:-/tmp/kx_speed}
mkdir -p "$work"

build() {  # build <source> <binary dir> [extra cmake args]
  local src=$1 bin=$2
  shift 2
  cmake -S "$src" -B "$bin" -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF \
    -DKX_BUILD_BENCH=ON "$@" >"$bin.log" 2>&1
  cmake --build "$bin" -j2 --target kestrelix bench_speed_bench >>"$bin.log" 2>&1
}

echo "building this tree and $base_rev in $work ..."
mkdir -p "$work/new" "$work/base"
build "$root" "$work/new"
if [ ! -f "$work/base-src/.rev" ] || [ "$(cat "$work/base-src/.rev")" != "$base_rev" ]; then
  rm -rf "$work/base-src"
  mkdir -p "$work/base-src"
  git -C "$root" archive "$base_rev" | tar -x -C "$work/base-src"
  echo "$base_rev" >"$work/base-src/.rev"
fi
# The same benchmark program on the base tree (it has no buffer-appending writer).
cp "$root/bench/speed_bench.cpp" "$root/bench/CMakeLists.txt" "$work/base-src/bench/"
mkdir -p "$work/base-src/tests/common"
cp "$root/tests/common/ftn_reference.h" "$work/base-src/tests/common/"
build "$work/base-src" "$work/base" -DCMAKE_CXX_FLAGS=-DKX_BENCH_NO_FORMAT_TO

# The sessions: typed answers, run in a folder holding the example defaults.
run="$work/run"
mkdir -p "$run"
cp "$root/examples/Kestrelix.DEF" "$run/"
# Function 1.1.1 (range of W): H, H2 default; W 0.01 .. 0.0400001 by 0.0000003 (100 001 rows); the
# rest default (copper, 2.5 u" roughness, Er 9.8, 2 GHz); then exit.
printf '1\n1\n1\n\n\n0.01\n0.0400001\n0.0000003\n\n\n\n\n\n\n0\n3\n' >"$run/sweep_off.txt"
printf '1\n1\n1\n\n\n0.01\n0.0400001\n0.0000003\n\n\n\n\n\n\n1\nsweep.out\n3\n' >"$run/sweep_on.txt"
# Function 2.2.1: dispersive synthesis at 10 GHz, Cstrong 6, Cweak 20, Cstep 1 dB.
printf '2\n2\n1\n\n\n\n\n10\n\n6\n20\n1\n0\n3\n' >"$run/synthesis.txt"
# Function 1.2.2 (frequency analysis): the example section, 0.01 .. 20 GHz by 0.0002.
printf '1\n2\n2\n\n\n\n\n\n\n\n\n0.01\n20.0\n0.0002\n0\n3\n' >"$run/frequency.txt"
: >"$run/empty.txt"

for b in base new; do
  (cd "$run" && "$work/$b/app/kestrelix" <sweep_off.txt >"$b.sweep.txt" 2>&1 || true)
  (cd "$run" && "$work/$b/app/kestrelix" <synthesis.txt >"$b.synthesis.txt" 2>&1 || true)
  (cd "$run" && "$work/$b/app/kestrelix" <frequency.txt >"$b.frequency.txt" 2>&1 || true)
done
rows=$(grep -cE '^     0\.0[0-9]{3}  [0-9]\.[0-9]{3} ' "$run/new.sweep.txt" || true)
echo "rows per impedance sweep: $rows"
same=yes
for s in sweep synthesis frequency; do
  diff <(grep -v 'Date:' "$run/base.$s.txt") <(grep -v 'Date:' "$run/new.$s.txt") >/dev/null ||
    same=no
done
if [ $same = yes ]; then
  echo "output: identical to $base_rev (date line aside)"
else
  echo "output: DIFFERS from $base_rev"
fi

python3 - "$work" "$run" "$runs" "$rows" <<'PY'
import os, statistics, subprocess, sys

work, run, runs, rows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def cpu(exe, answers):
    """User + system seconds of one whole session."""
    with open(os.path.join(run, answers)) as fin, open(os.devnull, "w") as fout:
        p = subprocess.Popen([exe], stdin=fin, stdout=fout, stderr=fout, cwd=run)
        _, _, ru = os.wait4(p.pid, 0)
    return ru.ru_utime + ru.ru_stime

cases = [("sweep, storage off", "sweep_off.txt", rows, 1e6, "us/row"),
         ("sweep, storage on", "sweep_on.txt", rows, 1e6, "us/row"),
         ("frequency analysis", "frequency.txt", 99951, 1e6, "us/row"),
         ("15-level synthesis", "synthesis.txt", 1, 1e3, "ms/session"),
         ("empty input", "empty.txt", 1, 1e3, "ms/session")]
print(f"{'case':22} {'tree':5} {'median':>8} {'min':>8} {'max':>8}")
for name, answers, per, scale, unit in cases:
    samples = {"base": [], "new": []}
    for _ in range(runs):  # alternate so that drift of the machine hits both
        for b in ("base", "new"):
            samples[b].append(cpu(os.path.join(work, b, "app", "kestrelix"), answers) * scale / per)
    for b in ("base", "new"):
        s = samples[b]
        print(f"{name:22} {b:5} {statistics.median(s):8.3f} {min(s):8.3f} {max(s):8.3f}  {unit}")
    ratio = statistics.median(samples["base"]) / statistics.median(samples["new"])
    print(f"{'':22} speed-up {ratio:.2f}x")
PY

for b in base new; do
  echo
  echo "== benchmarks, $b =="
  "$work/$b/bench/bench_speed_bench" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median|^Benchmark|^-'
done
