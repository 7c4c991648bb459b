#!/usr/bin/env bash
# Registers the host's ODBC drivers under the names the program asks for on Windows, in a private odbcinst.ini:
# "SQL Server" is PostgreSQL's driver here, and SQLite stands in for the Access database.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
lib=/usr/lib/x86_64-linux-gnu/odbc
mkdir -p "$ODBCSYSINI"
cat > "$ODBCSYSINI/odbcinst.ini" <<INI
[SQL Server]
Description=PostgreSQL standing in for SQL Server in the tests
Driver=$lib/psqlodbcw.so

[PostgreSQL Unicode]
Driver=$lib/psqlodbcw.so

[SQLite3]
Description=SQLite standing in for the Access database in the tests
Driver=$lib/libsqlite3odbc.so
INI
: > "$ODBCSYSINI/odbc.ini"
