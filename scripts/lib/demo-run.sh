#!/usr/bin/env bash
# The demonstration itself, inside xvfb-run: the Windows demo driver runs Update.exe and takes the screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
"$root/scripts/lib/wine-prefix.sh"
status=0
output=$(windows_path "$root/demo-output")
"$WINE" "$root/build/win64/bin/DemoDriver.exe" "$output" || status=$?
"$WINESERVER" -k || true
exit $status
