#!/usr/bin/env bash
# A throwaway PostgreSQL server that stands in for the update server's SQL Server in the tests.
#   postgres.sh start   initialises the cluster under build/pg once, starts it on a free port of 127.0.0.1 and writes
#                       build/pg/env (export lines: TAVILO_PG_HOST, _PORT, _USER, _PASSWORD, _DATABASE); a second
#                       start while it runs only rewrites the env file.
#   postgres.sh stop    stops it and removes the env file, so that nothing points at a server that is gone.
# PostgreSQL refuses to run as root: as root the cluster belongs to the system user "postgres".
# The test login is the cluster's superuser, so that tests can make a role and a schema of their own.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
envfile="$root/build/pg/env"
mkdir -p "$root/build/pg"
# As root the cluster belongs to "postgres", which may not be able to enter the checkout (a clone under /root,
# say): its files then live in a folder of their own under /tmp, one per checkout.
if [ "$(id -u)" -eq 0 ]; then
  pgdir="/tmp/tavilo-pg-$(printf '%s' "$root" | cksum | cut -d' ' -f1)"
else
  pgdir="$root/build/pg/cluster"
fi
data="$pgdir/data"
sockets="$pgdir/sock"
user=tavilo
database=tavilo_test
cd /  # every path here is absolute, and the postgres user may not enter the caller's directory
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

running() {
  [ -f "$data/PG_VERSION" ] && as_owner "$bin/pg_ctl" status -D "$data" >/dev/null 2>&1
}

# The port the running server listens on: the first line after the data directory in postmaster.pid.
running_port() {
  sed -n 4p "$data/postmaster.pid"
}

free_port() {
  local port
  for port in $(seq 54329 54429); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  echo "postgres: no free port in 54329-54429" >&2
  exit 1
}

initialise() {
  mkdir -p "$pgdir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres: "$pgdir"; fi
  chmod 700 "$pgdir"
  if [ ! -s "$pgdir/password" ]; then
    as_owner sh -c "umask 077; tr -dc 'A-Za-z0-9' </dev/urandom | head -c 20 > '$pgdir/password'"
  fi
  # Socket connections (used only by this script) are trusted; TCP logins must give the password, so that a
  # wrong password really fails.
  as_owner "$bin/initdb" -D "$data" -U "$user" --pwfile="$pgdir/password" --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$pgdir/initdb.log"
}

start() {
  if [ ! -f "$data/PG_VERSION" ]; then initialise; fi
  if ! running; then
    # Another checkout may be starting its server too: a port is free only until a server takes it, so choosing
    # one and starting on it is done by one checkout at a time.
    exec 8>>/tmp/tavilo-pg-port.lock
    flock 8
    local port
    port=$(free_port)
    as_owner mkdir -p "$sockets"
    as_owner "$bin/pg_ctl" start -w -D "$data" -l "$pgdir/server.log" \
      -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories='$sockets' -c fsync=off \
          -c full_page_writes=off -c synchronous_commit=off" >/dev/null 8>&-  # the server must not hold the lock
    exec 8>&-
  fi
  local port
  port=$(running_port)
  if ! as_owner "$bin/psql" -h "$sockets" -p "$port" -U "$user" -d postgres -tAc \
      "select 1 from pg_database where datname='$database'" | grep -q 1; then
    as_owner "$bin/psql" -h "$sockets" -p "$port" -U "$user" -d postgres -qc "create database $database" >/dev/null
  fi
  local password
  password=$(as_owner cat "$pgdir/password")
  cat >"$envfile" <<ENV
export TAVILO_PG_HOST=127.0.0.1
export TAVILO_PG_PORT=$port
export TAVILO_PG_USER=$user
export TAVILO_PG_PASSWORD=$password
export TAVILO_PG_DATABASE=$database
ENV
  echo "postgres: running on 127.0.0.1:$port (settings in $envfile)"
}

stop() {
  if running; then
    as_owner "$bin/pg_ctl" stop -D "$data" -m fast -w >/dev/null
  fi
  rm -f "$envfile"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
