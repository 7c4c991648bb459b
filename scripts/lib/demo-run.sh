#!/usr/bin/env bash
# The demonstration itself, inside xvfb-run: the 32-bit demo driver runs the release's Update.exe from dist/win32
# and takes the screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
"$root/scripts/lib/wine-prefix.sh"
use_tree win32
output=$(windows_path "$root/demo-output")
release=$(windows_path "$root/dist/win32")
status=0
"$TREE_WINE" "$root/build/win32/bin/DemoDriver.exe" "$output" "$release" || status=$?
"$WINESERVER" -k || true
[ $status -eq 0 ] || echo "demo: the demonstration failed (exit $status)" >&2
exit $status
