# Sourced by the scripts: the environment every Wine process of ours runs in.
# shellcheck shell=bash
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEPREFIX="$root/build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono/Gecko prompts, and no debugger that would wait forever on a crashed test program.
export WINEDLLOVERRIDES="mscoree,mshtml=,winedbg.exe=d"
# Wine converts file names and arguments through the Unix locale; without UTF-8, Chinese names cannot be made.
export LC_ALL=C.UTF-8
# ODBC drivers registered under the Windows drivers' names, for the tests (see scripts/lib/odbc.sh).
export ODBCSYSINI="$root/build/odbc"
export WINE=/usr/lib/wine/wine64
