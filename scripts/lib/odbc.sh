#!/usr/bin/env bash
# Registers the host's ODBC drivers under the names the program asks for on Windows, in a private odbcinst.ini per
# Windows tree: "SQL Server" is PostgreSQL's driver here, and SQLite stands in for the Access database. A 32-bit
# program under Wine loads the host's i386 drivers, so the win32 tree's ini names those.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
for tree in win32 win64; do
  case $tree in
    win32) lib=/usr/lib/i386-linux-gnu/odbc ;;
    win64) lib=/usr/lib/x86_64-linux-gnu/odbc ;;
  esac
  for driver in psqlodbcw.so libsqlite3odbc.so; do
    [ -f "$lib/$driver" ] || { echo "odbc: $lib/$driver is missing (run scripts/setup)" >&2; exit 1; }
  done
  dir="$root/build/odbc/$tree"
  mkdir -p "$dir"
  cat > "$dir/odbcinst.ini" <<INI
[SQL Server]
Description=PostgreSQL standing in for SQL Server in the tests
Driver=$lib/psqlodbcw.so

[PostgreSQL Unicode]
Driver=$lib/psqlodbcw.so

[SQLite3]
Description=SQLite standing in for the Access database in the tests
Driver=$lib/libsqlite3odbc.so
INI
  : > "$dir/odbc.ini"
done
