#!/usr/bin/env bash
# Reading 1,000,000 rows of (integer, bigint, double, varchar(40), timestamp)
# through TODBCStatement (rowsets of 30 and of 1), pyodbc and isql, side by
# side against the same private PostgreSQL server and driver. Not run by CI.
#
#   bench/odbc/run.sh              # 1,000 and 1,000,000 rows
#   ROWS="1000 100000" bench/odbc/run.sh
#
# Two driver set-ups are measured: the driver's default, which keeps a whole
# result in the driver's own memory, and UseDeclareFetch=1, which makes the
# driver fetch through a server cursor so that only the client's rowset is
# held.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
ROWS=${ROWS:-"1000 1000000"}
work=$(mktemp -d /tmp/zo-odbc-bench.XXXXXX)
chmod 755 "$work"  # the server runs as its own user
dbdir=$work/db
trap 'bash "$root/scripts/testdb.sh" stop "$dbdir"; rm -rf "$work"' EXIT

build=${ZO_BENCH_BUILD:-$root/build-bench}
echo "building the reader (Release, in $build)..."
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target odbc_read_bench -j2 >/dev/null
reader=$build/bench/odbc_read_bench

bash scripts/testdb.sh start "$dbdir" >/dev/null
# shellcheck disable=SC1091
source "$dbdir/env"
max=$(echo "$ROWS" | tr ' ' '\n' | sort -n | tail -1)
PGPASSWORD=$ZO_TEST_PGPASSWORD psql -q -h 127.0.0.1 -p "$ZO_TEST_PGPORT" -U "$ZO_TEST_PGUSER" \
  -d "$ZO_TEST_PGDATABASE" -v ON_ERROR_STOP=1 >/dev/null <<SQL
create table bench_rows (i integer primary key, b bigint, d double precision, v varchar(40), ts timestamp);
insert into bench_rows
  select n, n::bigint * 1000003, n / 7.0, left('row ' || n || ' ' || md5(n::text), 40), timestamp '2020-01-01' + n * interval '1 second'
  from generate_series(1, $max) as n;
vacuum analyze bench_rows;
SQL

conn="DRIVER={SQL Server};SERVER=127.0.0.1;Port=$ZO_TEST_PGPORT;DATABASE=$ZO_TEST_PGDATABASE;UID=$ZO_TEST_PGUSER;PWD=$ZO_TEST_PGPASSWORD"
echo
echo "== driver default (the driver caches the whole result) =="
# shellcheck disable=SC2086
python3 bench/odbc/compare.py "$reader" "$conn" $ROWS
echo
echo "== UseDeclareFetch=1;Fetch=1000 (the driver fetches through a server cursor) =="
# shellcheck disable=SC2086
python3 bench/odbc/compare.py "$reader" "$conn;UseDeclareFetch=1;Fetch=1000" $ROWS
