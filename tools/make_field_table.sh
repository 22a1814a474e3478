#!/usr/bin/env bash
# Regenerates the field solver's fast-path tables, models/field/fast_table.bin,
# from the direct solver of this tree, then checks them: 10 000 random
# sections against direct solutions (the worst deviation must stay below
# 0.1 %), the bare ones over the whole range, the coated ones within each
# coated table.
#   tools/make_field_table.sh [BUILD_DIR]     (default: build)
# The bare tables take about 4 minutes on the 2-core build machine, the two
# coated ones about an hour more (doc/field_solver.md). Commit the new file
# with the solver change that called for it: the field tests solve random
# nodes again and fail while the two differ.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target kx_field_table
tool="$build/tools/kx_field_table"
new=models/field/fast_table.bin.new
"$tool" generate "$new.bare" --threads 2
"$tool" generate-coated "$new.bare" "$new.open" --threads 2 --samples 60000
"$tool" generate-coated "$new.open" "$new" --filled --threads 2 --samples 40000
rm -f "$new.bare" "$new.open"
"$tool" check "$new" 40
fail() { echo "make_field_table: a deviation of 0.1 % or more; the table is not replaced" >&2; exit 1; }
"$tool" validate "$new" 10000 --seed 2025 || fail
"$tool" validate-coated "$new" 10000 --seed 2025 || fail
"$tool" validate-coated "$new" 10000 --seed 2025 --filled || fail
mv "$new" models/field/fast_table.bin
echo "models/field/fast_table.bin replaced; rebuild to embed it"
