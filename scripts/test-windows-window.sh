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
release_db=zo_win_release
trap 'psql_at -d postgres -c "DROP DATABASE IF EXISTS $database" -c "DROP DATABASE IF EXISTS $release_db" \
  >/dev/null 2>&1 || true' EXIT
# A database at the oldest version, laid in as the demo does.
create_oldest() {
  psql_at -d postgres -c "DROP DATABASE IF EXISTS $1" -c "CREATE DATABASE $1"
  psql_at -d "$1" -f demo/bootstrap.sql
  wine "$app/Lifter_$oldest/Lifter.exe" -TSQLSERVER "-S$server" "-D$1" "-u$ZO_TEST_PGUSER" \
    "-p$ZO_TEST_PGPASSWORD" -m0 </dev/null >/dev/null
  expect_sql "$1" "SELECT a277u0 FROM dbo.a15830u10" "$oldest"
}
create_oldest "$database"

connect_to() {
  connect=(set "Server Name :" "$server" set "User Name :" "$ZO_TEST_PGUSER" set "Password :" "$ZO_TEST_PGPASSWORD"
           set "Database Name :" "$1" click Connect)
}
connect_to "$database"
drive() { echo "== upliner $1"; wine "$driver" "$upliner" "$@" </dev/null; }

# The window as it opens, then one whole upgrade and its saved report.
report=$scratch/report.txt
# Tab moves on as in a dialog; Enter in a field presses Connect.
drive "" "Reinstall Database" check focused "Server Name :" key "Server Name :" tab focused "User Name :" \
  "${connect[@]:0:12}" key "Database Name :" return \
  expect "Actual version :" "$oldest" expect "Target version :" "$newest" \
  click Reinstall box Recommendation yes run \
  expect "Actual version :" "$newest" report save "$(winpath "$report")" close
expect_sql "$database" "SELECT a277u0 FROM dbo.a15830u10" "$newest"
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'invoice'" 1
[ "$(grep -c "^Upgrade to version .* finished successfully" "$report")" = 3 ] ||
  fail "the saved report does not hold the three steps: $(cat "$report")"

# Each alter mode once: languages in, archive support added, external-
# database support (laid in beforehand) removed.
drive -la "Alter languages" "${connect[@]}" click "Alter Langs" box Question yes run close
expect_sql "$database" "SELECT ic || ',' || u FROM dbo.a194u0 ORDER BY ic" "401,0 402,0"

# The directory comes from the picker: it opens at the folder typed in,
# Left moves to the folder above and Enter takes it; Esc changes nothing.
mkdir -p "$scratch/archive/below"
drive -ai "Alter archive" "${connect[@]}" set "Archive Dir :" "$(winpath "$scratch/archive/below")" \
  pick left,return expect "Archive Dir :" "$(winpath "$scratch/archive")" \
  pick down,escape expect "Archive Dir :" "$(winpath "$scratch/archive")" \
  click "Add Archive" box Question yes run close
expect_sql "$database" "SELECT a2439u0 FROM dbo.a15830u10" 1
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'orders_archive'" 1

psql_at -d "$database" -c "CREATE TABLE dbo.external_db (name varchar(100), directory varchar(400))" \
  -c "UPDATE dbo.a15830u10 SET a2583u0 = 1"
drive -ed "Alter external db" "${connect[@]}" click "Del ExtDB" box Question yes run close
expect_sql "$database" "SELECT coalesce(a2583u0, 0) FROM dbo.a15830u10" 0
expect_sql "$database" "SELECT count(*) FROM information_schema.tables WHERE table_name = 'external_db'" 0

# A stamp whose plain version was changed behind the encrypted copy's back
# is refused at Connect, and nothing is shown as the database's version.
psql_at -d "$database" -c "UPDATE dbo.a15830u10 SET a277u0 = '$oldest'"
drive "" "Reinstall Database" "${connect[@]}" box Upliner ok expect "Actual version :" "" close
expect_sql "$database" "SELECT a277u0 FROM dbo.a15830u10" "$oldest"

# The release archive: every file a peer tool finds in it, then unpacked by
# bundlet in a fresh prefix, where the tool upgrades a database of its own
# with the upgrade programs of the archive, on a screen of 144 DPI.
create_oldest "$release_db"
archive=$(bash scripts/win-release.sh "$win" "$scratch/release")
top=$(basename "$archive" .zip)
python3 - "$archive" "$top" <<'PY'
import sys, zipfile
archive, top = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    assert z.testzip() is None
    names = set(z.namelist())
want = ["upliner.exe", "bundlet.exe", "Lifter.exe", "README.txt", "Versions.sl", "bootstrap.sql"]
for v in open("demo/Versions.sl").read().split():
    want += [f"Lifter_{v}/Lifter.exe", f"IVersion_{v}/"]
missing = [w for w in want if not any(n == f"{top}/{w}" or n.startswith(f"{top}/{w}") for n in names)]
assert not missing, f"the archive lacks {missing}"
PY
(
  export WINEPREFIX=$scratch/prefix-release
  mkdir -p "$WINEPREFIX"
  timeout 30 setsid -w wineserver -p </dev/null >/dev/null 2>&1
  timeout 300 setsid -w wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  # This machine's screen has 144 DPI: the window scales its layout by half.
  timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f </dev/null >/dev/null 2>&1
  wine "$win/bundlet/bundlet.exe" -Aua '-DC:\' "-Z$(winpath "$archive")" </dev/null >/dev/null
  connect_to "$release_db"
  echo "== the release archive's upliner.exe"
  ZO_EXPECTED_DPI=144 wine "$driver" "C:\\$top\\upliner.exe" "" "Reinstall Database" check "${connect[@]}" \
    expect "Actual version :" "$oldest" expect "Target version :" "$newest" \
    click Reinstall box Recommendation yes run expect "Actual version :" "$newest" close </dev/null
)
expect_sql "$release_db" "SELECT a277u0 FROM dbo.a15830u10" "$newest"

echo "test-windows-window: the window's runs took $(( $(date +%s) - start )) s"
