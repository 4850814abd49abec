#!/usr/bin/env bash
# The upgrade tool's part of the demo.
#
#   scripts/demo-upliner.sh BUILD_DIR
#
# 1. Starts a private PostgreSQL cluster on 127.0.0.1 (scripts/testdb.sh) and
#    creates the demo database "zo_demo" at the oldest version of
#    demo/Versions.sl (5.0), laid in by that version's upgrade program.
# 2. Lays out the tool's directory as an installation has it: the program,
#    Versions.sl, LicenceNumber.txt, TargetLanguages.txt, and per version
#    Lifter_<version>/Lifter.exe (the reference upgrade program) and
#    IVersion_<version>/ (its SQL scripts, from demo/).
# 3. Drives one real upgrade step (5.0 to 5.1) through the real window
#    without a person (upliner_demo), with screenshots and the saved report.
# 4. Starts the upgrade tool itself, ready to Connect: on a display it waits
#    for you to close it; without one it runs under Xvfb, takes a screenshot
#    and closes it again.
# The cluster it started is stopped at the end, also after a failure.
#
# Environment: ZO_DEMO_OUT (default BUILD_DIR/demo-upliner) receives the
# screenshots and the report; ZO_DEMO_INTERACTIVE=0 never waits for a
# person even when a display is there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=${1:?usage: $0 BUILD_DIR}
build=$(cd "$build" && pwd)
out=${ZO_DEMO_OUT:-$build/demo-upliner}
mkdir -p "$out"
out=$(cd "$out" && pwd)
app=$out/app

for program in upliner/upliner lifter/Lifter.exe demo/upliner_demo; do
  [ -x "$build/$program" ] || { echo "demo-upliner: $build/$program is missing: build first" >&2; exit 1; }
done

say() { printf '\n== %s\n' "$*"; }

# ---- 1. the database server ------------------------------------------------------
dbdir=$(mktemp -d /tmp/zo-demo-db.XXXXXX)
upliner_pid=
cleanup() {
  [ -n "$upliner_pid" ] && kill "$upliner_pid" 2>/dev/null || true
  bash "$root/scripts/testdb.sh" stop "$dbdir"
  rm -rf "$dbdir"
}
trap cleanup EXIT

say "Starting a private PostgreSQL server (the \"SQL Server\" ODBC driver is psqlodbc here)"
bash scripts/testdb.sh start "$dbdir"
# shellcheck disable=SC1091
source "$dbdir/env"
server="$ZO_TEST_PGHOST;Port=$ZO_TEST_PGPORT"
database=zo_demo
psql_demo() {
  PGPASSWORD="$ZO_TEST_PGPASSWORD" /usr/lib/postgresql/15/bin/psql -X -q -v ON_ERROR_STOP=1 \
    -h "$ZO_TEST_PGHOST" -p "$ZO_TEST_PGPORT" -U "$ZO_TEST_PGUSER" "$@"
}

# ---- 2. the tool's directory ------------------------------------------------------
say "Laying out the upgrade tool's directory in $app"
rm -rf "$app"
mkdir -p "$app"
cp "$build/upliner/qt/upliner" "$app/"
cp demo/Versions.sl demo/LicenceNumber.txt demo/TargetLanguages.txt "$app/"
while IFS= read -r version || [ -n "$version" ]; do
  version=${version%$'\r'}
  [ -n "$version" ] || continue
  mkdir -p "$app/Lifter_$version"
  cp "$build/lifter/Lifter.exe" "$app/Lifter_$version/Lifter.exe"
  cp -r "demo/IVersion_$version" "$app/IVersion_$version"
done <demo/Versions.sl
oldest=$(head -n1 demo/Versions.sl | tr -d '\r')
second=$(sed -n 2p demo/Versions.sl | tr -d '\r')
newest=$(tail -n1 demo/Versions.sl | tr -d '\r')
(cd "$app" && find . -maxdepth 2 | sort | sed 's/^/    /')

say "Creating the database \"$database\" at version $oldest"
psql_demo -d postgres -c "CREATE DATABASE $database"
psql_demo -d "$database" -f demo/bootstrap.sql
"$app/Lifter_$oldest/Lifter.exe" -TSQLSERVER "-S$server" "-D$database" "-u$ZO_TEST_PGUSER" \
  "-p$ZO_TEST_PGPASSWORD" -m0
psql_demo -d "$database" -c "SELECT a277u0 AS version, encode(a212u0, 'hex') AS enciphered FROM dbo.a15830u10"

# ---- 3. one real upgrade step, clicked through the window -----------------------
say "Upgrading $oldest to $second through the window (Connect, Reinstall, Yes, Save Results)"
QT_QPA_PLATFORM=offscreen "$build/demo/upliner_demo" "$app" "$out" "$server" "$database" \
  "$ZO_TEST_PGUSER" "$ZO_TEST_PGPASSWORD" "$second"
psql_demo -d "$database" -c "SELECT a277u0 AS version FROM dbo.a15830u10" \
  -c "SELECT table_name FROM information_schema.tables WHERE table_schema = 'dbo' ORDER BY 1"

# ---- 4. the tool itself, ready to Connect -----------------------------------------
say "Starting the upgrade tool"
cat <<TEXT
    Server Name   : $server
    User Name     : $ZO_TEST_PGUSER
    Password      : $ZO_TEST_PGPASSWORD
    Database Name : $database
    The database is at $second; Connect, then Reinstall brings it to $newest.
TEXT
if [ -n "${DISPLAY:-}" ] && [ "${ZO_DEMO_INTERACTIVE:-1}" != 0 ]; then
  echo "    Close the window to end the demo."
  "$app/upliner"
else
  # No display: a virtual one, a screenshot of the waiting window, and then
  # the window is closed again, so the demo never waits for a person.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    "$1" & pid=$!
    window=
    for _ in $(seq 1 50); do
      window=$(xwininfo -root -tree 2>/dev/null | awk "/\"Reinstall Database\"/ { print \$1; exit }")
      [ -n "$window" ] && break
      sleep 0.2
    done
    sleep 0.5
    import -window "${window:-root}" "$2" && echo "    screenshot $2"
    kill "$pid"; wait "$pid" 2>/dev/null || true
  ' demo "$app/upliner" "$out/upliner-xvfb.png"
fi

say "Upgrade tool demo done: screenshots and report in $out"
