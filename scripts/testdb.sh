#!/usr/bin/env bash
# A private PostgreSQL 15 cluster on 127.0.0.1 for the tests and the demo, with
# the psqlodbc Unicode driver registered as "SQL Server" in a private odbcinst.ini.
#
#   scripts/testdb.sh start DIR   # creates DIR/pgdata, starts the server, writes DIR/env
#   scripts/testdb.sh stop DIR    # stops it (safe to call twice)
#
# DIR/env holds the exports a test needs: ODBCSYSINI (so the driver manager
# finds our odbcinst.ini) and ZO_TEST_PG{HOST,PORT,USER,PASSWORD,DATABASE}.
# PGPORT is deliberately not exported: it would hide a connection string that
# forgot its port.
set -euo pipefail

PGBIN=/usr/lib/postgresql/15/bin
DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
USER_NAME=zo_test
USER_PASSWORD='zo_test_pw'
DATABASE=zo_test

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

# initdb and postgres refuse to run as root. They run from / so that a
# checkout in a private directory is no working directory they cannot enter.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then (cd / && runuser -u postgres -- "$@"); else "$@"; fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

start() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  chmod 755 "$dir"
  local data="$dir/pgdata" sock="$dir/sock" port
  rm -rf "$data" "$sock" "$dir/log"
  mkdir -p "$data" "$sock" "$dir/log"
  if [ "$(id -u)" -eq 0 ] && ! runuser -u postgres -- test -x "$dir"; then
    echo "testdb.sh: the server's user cannot enter $dir; give a directory under /tmp" >&2
    exit 1
  fi
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$data" "$sock" "$dir/log"
  port=$(free_port)

  echo "$USER_PASSWORD" > "$dir/pwfile"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir/pwfile"
  chmod 600 "$dir/pwfile"
  as_owner "$PGBIN/initdb" -D "$data" -U postgres -A scram-sha-256 --pwfile="$dir/pwfile" \
    -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  cat >>"$data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$sock'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 200
CONF
  as_owner "$PGBIN/pg_ctl" -D "$data" -l "$dir/log/server.log" -w -t 60 start >/dev/null

  PGPASSWORD="$USER_PASSWORD" "$PGBIN/psql" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres \
    -v ON_ERROR_STOP=1 >/dev/null <<SQL
CREATE ROLE $USER_NAME LOGIN SUPERUSER PASSWORD '$USER_PASSWORD';
CREATE DATABASE $DATABASE OWNER $USER_NAME;
SQL

  cat >"$dir/odbcinst.ini" <<INI
[SQL Server]
Description=PostgreSQL Unicode driver standing in for the application's server
Driver=$DRIVER
INI
  : >"$dir/odbc.ini"

  cat >"$dir/env" <<ENV
export ODBCSYSINI='$dir'
export ODBCINI='$dir/odbc.ini'
export ZO_TEST_PGHOST=127.0.0.1
export ZO_TEST_PGPORT=$port
export ZO_TEST_PGUSER=$USER_NAME
export ZO_TEST_PGPASSWORD='$USER_PASSWORD'
export ZO_TEST_PGDATABASE=$DATABASE
export ZO_TEST_PGDATA='$data'
ENV
  echo "testdb: PostgreSQL on 127.0.0.1:$port (env in $dir/env)"
}

stop() {
  local data="$dir/pgdata"
  [ -f "$data/postmaster.pid" ] || return 0
  as_owner "$PGBIN/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
}

case "$cmd" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
