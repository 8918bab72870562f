#!/bin/sh
# Fails when a C or C++ source of the project is not laid out as .clang-format
# says, and names each such file with the first differences.
# Usage: check_format.sh CLANG_FORMAT SOURCE_DIR
set -u
clang_format=$1
cd "$2" || exit 1
# The tracked sources in a git checkout; otherwise every source outside build/.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files -- '*.c' '*.cpp' '*.h')
else
  files=$(find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print | sort)
fi
[ -n "$files" ] || { echo "no sources found in $2" >&2; exit 1; }
# shellcheck disable=SC2086 # the names hold no blanks
if "$clang_format" --style=file --dry-run --Werror $files; then
  echo "$(echo "$files" | wc -l) sources formatted as .clang-format says"
else
  echo "Reformat the files named above with: $clang_format -i FILE" >&2
  exit 1
fi
