#!/usr/bin/env bash
# Runs the Windows test build under Wine. Called inside xvfb-run by scripts/test.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
"$root/scripts/lib/wine-prefix.sh"
status=0
ctest --test-dir "$root/build/win64" --output-on-failure -j 2 "$@" || status=$?
"$WINESERVER" -k || true
exit $status
