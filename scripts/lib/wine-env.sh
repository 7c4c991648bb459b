# Sourced by the scripts: the environment every Wine process of ours runs in.
# Wine's programs are called by their full paths: the links on the PATH (wine, wineserver, winepath) come from the
# Debian package "wine", which setup does not install.
# shellcheck shell=bash
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEPREFIX="$root/build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono/Gecko prompts, and no debugger that would wait forever on a crashed test program.
export WINEDLLOVERRIDES="mscoree,mshtml=,winedbg.exe=d"
# Wine converts file names and arguments through the Unix locale; without UTF-8, Chinese names cannot be made.
export LC_ALL=C.UTF-8
# ODBC drivers registered under the Windows drivers' names, for the tests (see scripts/lib/odbc.sh); the tree
# decides their bitness: use_tree win32|win64.
export ODBCSYSINI="$root/build/odbc/win64"
export WINE=/usr/lib/wine/wine64     # PE32+ programs
export WINE32=/usr/lib/wine/wine     # PE32 programs (the release), in the same prefix
export WINESERVER=/usr/lib/wine/wineserver

# A host path as Windows programs under Wine see it; fails when Wine cannot say.
windows_path() {
  local converted
  converted=$("$WINE" winepath.exe -w "$1" 2>/dev/null | tr -d '\r')
  [ -n "$converted" ] || { echo "winepath: no Windows path for $1" >&2; return 1; }
  printf '%s\n' "$converted"
}

# Points ODBCSYSINI at the drivers of a Windows tree's bitness and names that tree's Wine loader in TREE_WINE.
use_tree() {
  case $1 in
    win32) TREE_WINE=$WINE32 ;;
    win64) TREE_WINE=$WINE ;;
    *) echo "use_tree: unknown tree $1" >&2; return 1 ;;
  esac
  export ODBCSYSINI="$root/build/odbc/$1"
}
