#!/usr/bin/env bash
# Checks the layout of every tracked C++ file against .clang-format without
# changing anything; exits non-zero and lists the places when a file differs.
#   tools/check_format.sh              the whole tree
#   tools/check_format.sh FILE...      only these files
# To apply the layout to a file: clang-format -i FILE
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
command -v "$clang_format" >/dev/null || { echo "check_format: $clang_format not found" >&2; exit 2; }

if [ $# -gt 0 ]; then
  files=("$@")
elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.h' '*.hpp' '*.cpp' '*.cc')
else
  mapfile -t files < <(find . \( -name 'build*' -o -name .git \) -prune -o \
                         -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) \
                         -print | sed 's|^\./||' | sort)
fi
[ ${#files[@]} -gt 0 ] || { echo "check_format: no C++ files" >&2; exit 2; }

if "$clang_format" --dry-run --Werror "${files[@]}"; then
  echo "check_format: ${#files[@]} files laid out as .clang-format says"
else
  echo "check_format: layout differs from .clang-format (see above; clang-format -i FILE fixes it)" >&2
  exit 1
fi
