#!/usr/bin/env bash
# Seed corpus of the whole-program fuzz target from the golden sessions:
# each seed is the session's defaults file, a NUL byte, then its answers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: make_seeds.sh OUTPUT_DIR}
mkdir -p "$out"
for dir in "$root"/tests/golden/*/; do
  name=$(basename "$dir")
  [ -f "$dir/answers.txt" ] || continue
  def=""
  if [ -f "$dir/Kestrelix.DEF" ]; then
    def="$dir/Kestrelix.DEF"
  elif [ -f "$dir/defaults" ]; then
    ref=$(head -n 1 "$dir/defaults")
    case "$ref" in
      */*) def="$root/$ref" ;;
      *) def="$root/tests/golden/defaults/$ref" ;;
    esac
  fi
  { [ -n "$def" ] && cat "$def"; printf '\0'; cat "$dir/answers.txt"; } > "$out/$name"
done
