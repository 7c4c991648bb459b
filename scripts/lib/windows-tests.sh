#!/usr/bin/env bash
# Runs the Windows suite of both trees under Wine, one tree after the other (they share the one virtual desktop):
# the 32-bit release first, then the 64-bit build. Called inside xvfb-run by scripts/test; extra arguments go to
# ctest (-R NAME, say). TREES="win64" runs one tree only.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
"$root/scripts/lib/wine-prefix.sh"
status=0
for tree in ${TREES:-win32 win64}; do
  use_tree "$tree"
  echo "== Windows tests, $tree (Wine)"
  ctest --test-dir "$root/build/$tree" --output-on-failure -j 2 "$@" 2>&1 | tee "$root/build/$tree-ctest.log" ||
    status=1
done
"$WINESERVER" -k || true
exit $status
