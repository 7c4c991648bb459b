#!/usr/bin/env bash
# Builds a package through Update.exe (F2, the real zip32.dll) and lists it with Debian's unzip: the entries must
# be exactly the bare names the author listed plus the descriptor, and the signature when the case signs. Runs
# under the Windows suite's environment. Arguments: the emulator, the tests, the build case, extra entry names.
set -euo pipefail
emulator=$1   # the Wine loader for this tree's bitness
tests_exe=$2
test_case=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package=$("$WINE" winepath.exe -w "$work/package.sky" | tr -d '\r')
[ -n "$package" ] || { echo "winepath gave no Windows path" >&2; exit 1; }
TAVILO_KEEP_PACKAGE=$package "$emulator" "$tests_exe" "--gtest_filter=BuildFlowTest.$test_case"
unzip -tq "$work/package.sky"
unzip -l "$work/package.sky" >/dev/null
listed=$(unzip -Z1 "$work/package.sky" | sort | tr '\n' '|')
expected=$(printf '%s\n' "Tool.dll" "Update.xml" "readme.txt" "说明 & 注意.txt" "$@" | sort | tr '\n' '|')
if [ "$listed" != "$expected" ]; then
  echo "unzip lists: $listed" >&2
  echo "expected:    $expected" >&2
  exit 1
fi
echo "unzip lists exactly: $listed"
