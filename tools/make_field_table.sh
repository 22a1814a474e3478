#!/usr/bin/env bash
# Regenerates the field solver's fast-path table, models/field/fast_table.bin,
# from the direct solver of this tree, then checks it: 10 000 random sections
# against direct solutions (the worst deviation must stay below 0.1 %).
#   tools/make_field_table.sh [BUILD_DIR]     (default: build)
# About 4 minutes on the 2-core build machine (doc/field_solver.md). Commit
# the new table with the solver change that called for it: the field tests
# solve random nodes again and fail while the two differ.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target kx_field_table
tool="$build/tools/kx_field_table"
"$tool" generate models/field/fast_table.bin.new --threads 2
"$tool" check models/field/fast_table.bin.new 20
"$tool" validate models/field/fast_table.bin.new 10000 --seed 2025 ||
  { echo "make_field_table: a deviation of 0.1 % or more; the table is not replaced" >&2; exit 1; }
mv models/field/fast_table.bin.new models/field/fast_table.bin
echo "models/field/fast_table.bin replaced; rebuild to embed it"
