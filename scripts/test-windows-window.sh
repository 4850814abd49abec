#!/usr/bin/env bash
# The upgrade tool's Windows window, end to end under Wine, as a user works
# it: called by scripts/test-windows.sh once the Windows suites have passed,
# with its Wine prefix running on a virtual display and the test server's
# ZO_TEST_PG* in the environment.
#
#   scripts/test-windows-window.sh BUILD_WIN SCRATCH
#
# It lays out an installation (upliner.exe, Versions.sl, Lifter_<version>\
# with the reference Lifter.exe, IVersion_<version>\ from demo/), creates a
# database at the oldest version as the demo does, and drives the window
# from a Windows program (tests/upliner/win32/WindowDriver.cpp): the window's
# controls, one whole upgrade to the newest version with its saved report,
# one run of each alter mode and the refusal of a tampered stamp. After each
# run it checks the database itself.
set -euo pipefail
cd "$(dirname "$0")/.."
win=$1
scratch=$2
app=$scratch/app
driver=$win/tests/upliner/zo_window_driver.exe
start=$(date +%s)

psql_at() {
  PGPASSWORD="$ZO_TEST_PGPASSWORD" /usr/lib/postgresql/15/bin/psql -X -q -At -v ON_ERROR_STOP=1 \
    -h "$ZO_TEST_PGHOST" -p "$ZO_TEST_PGPORT" -U "$ZO_TEST_PGUSER" "$@"
}
fail() { echo "test-windows-window: $*" >&2; exit 1; }
expect_sql() {  # DATABASE QUERY EXPECTED
  local got
  got=$(psql_at -d "$1" -c "$2" | tr '\n' ' ' | sed 's/ $//')
  [ "$got" = "$3" ] || fail "$2 gave \"$got\", not \"$3\""
}
# The Windows name of a host path, as the programs under Wine see it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$app"
mkdir -p "$app"
cp "$win/upliner/win32/upliner.exe" demo/Versions.sl demo/LicenceNumber.txt demo/TargetLanguages.txt "$app/"
while IFS= read -r version || [ -n "$version" ]; do
  version=${version%$'\r'}
  [ -n "$version" ] || continue
  mkdir -p "$app/Lifter_$version"
  cp "$win/lifter/Lifter.exe" "$app/Lifter_$version/"
  cp -r "demo/IVersion_$version" "$app/"
done <demo/Versions.sl
oldest=$(head -n1 demo/Versions.sl | tr -d '\r')
newest=$(tail -n1 demo/Versions.sl | tr -d '\r')
upliner=$(winpath "$app/upliner.exe")

database=zo_win_window
server="$ZO_TEST_PGHOST;Port=$ZO_TEST_PGPORT"
psql_at -d postgres -c "DROP DATABASE IF EXISTS $database" -c "CREATE DATABASE $database"
trap 'psql_at -d postgres -c "DROP DATABASE IF EXISTS $database" >/dev/null 2>&1 || true' EXIT
psql_at -d "$database" -f demo/bootstrap.sql
wine "$app/Lifter_$oldest/Lifter.exe" -TSQLSERVER "-S$server" "-D$database" "-u$ZO_TEST_PGUSER" \
  "-p$ZO_TEST_PGPASSWORD" -m0 </dev/null >/dev/null
expect_sql "$database" "SELECT a277u0 FROM dbo.a15830u10" "$oldest"

connect=(set "Server Name :" "$server" set "User Name :" "$ZO_TEST_PGUSER" set "Password :" "$ZO_TEST_PGPASSWORD"
         set "Database Name :" "$database" click Connect)
drive() { echo "== upliner $1"; wine "$driver" "$upliner" "$@" </dev/null; }

# The window as it opens, then one whole upgrade and its saved report.
report=$scratch/report.txt
drive "" "Reinstall Database" check "${connect[@]}" \
  expect "Actual version :" "$oldest" expect "Target version :" "$newest" \
  click Reinstall box Recommendation yes idle \
  expect "Actual version :" "$newest" report save "$(winpath "$report")" close
expect_sql "$database" "SELECT a277u0 FROM dbo.a15830u10" "$newest"
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'invoice'" 1
[ "$(grep -c "^Upgrade to version .* finished successfully" "$report")" = 3 ] ||
  fail "the saved report does not hold the three steps: $(cat "$report")"

# Each alter mode once: languages in, archive support added, external-
# database support (laid in beforehand) removed.
drive -la "Alter languages" "${connect[@]}" click "Alter Langs" box Question yes idle close
expect_sql "$database" "SELECT ic || ',' || u FROM dbo.a194u0 ORDER BY ic" "401,0 402,0"

mkdir -p "$scratch/archive"
drive -ai "Alter archive" "${connect[@]}" set "Archive Dir :" "$(winpath "$scratch/archive")" \
  click "Add Archive" box Question yes idle close
expect_sql "$database" "SELECT a2439u0 FROM dbo.a15830u10" 1
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'orders_archive'" 1

psql_at -d "$database" -c "CREATE TABLE dbo.external_db (name varchar(100), directory varchar(400))" \
  -c "UPDATE dbo.a15830u10 SET a2583u0 = 1"
drive -ed "Alter external db" "${connect[@]}" click "Del ExtDB" box Question yes idle close
expect_sql "$database" "SELECT coalesce(a2583u0, 0) FROM dbo.a15830u10" 0
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'external_db'" 0

# A stamp whose plain version was changed behind the encrypted copy's back
# is refused at Connect, and nothing is shown as the database's version.
psql_at -d "$database" -c "UPDATE dbo.a15830u10 SET a277u0 = '$oldest'"
drive "" "Reinstall Database" "${connect[@]}" box Upliner ok expect "Actual version :" "" close
expect_sql "$database" "SELECT a277u0 FROM dbo.a15830u10" "$oldest"

echo "test-windows-window: the window's runs took $(( $(date +%s) - start )) s"
