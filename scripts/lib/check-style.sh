#!/usr/bin/env bash
# The style check: every C++ source of ours must read as clang-format (Debian's version 14, whose output differs
# from other versions') writes it with the nearest .clang-format: the project's, or libs/.clang-format for the
# archive core and libraries. Lists the files that differ; non-zero then.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
if [ ! -f .clang-format ]; then
  echo "style: no .clang-format yet; nothing checked"
  exit 0
fi
format=clang-format-14
command -v "$format" >/dev/null || format=clang-format
"$format" --version | grep -q ' 14\.' || { echo "style: clang-format 14 is needed" >&2; exit 1; }
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp')
status=0
for f in "${files[@]}"; do
  if ! "$format" --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "style: $f differs from .clang-format" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "style: ${#files[@]} files match .clang-format"
exit $status
