#!/usr/bin/env bash
# The tree cross-built for Windows (MinGW-w64: the archiver, the upgrade
# tool's model, Lifter.exe and their tests) and its suites run under Wine:
# the fourth pass of scripts/test.sh, and on its own after scripts/setup.sh.
#
#   scripts/test-windows.sh      # build-win/ (or $ZO_WIN_BUILD_DIR)
#
# The database suites run against the test server of the caller (the
# ZO_TEST_PG* and ODBCSYSINI of scripts/testdb.sh's env, as scripts/test.sh
# exports them) or else against one that this script starts and stops.
# Windows programs under Wine reach it through odbc32, which hands every call
# to the host's unixODBC and its Linux drivers.
#
# Wine runs in a private prefix that this script creates and removes, with
# no Mono or Gecko prompts and no debug noise; the server it starts is
# stopped at the end, also when a suite fails or the script is interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
win=${ZO_WIN_BUILD_DIR:-build-win}

cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$win" -j "$(nproc)"

# Wine keeps Windows names on disk in the character set of the locale it
# runs in; in the C locale (ASCII alone) a name such as "list ä.txt" cannot
# be made at all. The suites run in a UTF-8 locale, whatever the caller's;
# the code-page tests choose their own.
export LANG=C.UTF-8
unset LC_ALL LC_CTYPE

scratch=$(mktemp -d /tmp/zo-wine.XXXXXX)
chmod 755 "$scratch"
WINEPREFIX=$scratch/prefix
mkdir -p "$WINEPREFIX"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
own_server=0
stop_wine() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ "$own_server" = 1 ]; then bash "$root/scripts/testdb.sh" stop "$scratch/db"; fi
  rm -rf "$scratch"
}
trap stop_wine EXIT

if [ -z "${ZO_TEST_PGPORT:-}" ]; then
  own_server=1
  bash scripts/testdb.sh start "$scratch/db" >/dev/null
  # shellcheck disable=SC1091
  source "$scratch/db/env"
fi

# The ODBC test driver is a host library even for a Windows program. The
# driver manager reads its registration only through ODBCSYSINI, and under
# Wine only as the first Wine process starts: so it is built natively and
# registered beside the server's driver before Wine starts. The Windows
# suites learn its path from ZO_TEST_DRIVER_LIBRARY.
mkdir -p "$scratch/odbc"
g++ -std=c++20 -O1 -shared -fPIC -o "$scratch/odbc/libzotestodbc.so" tests/odbc/TestDriver.cpp
{ cat "${ODBCSYSINI:-/etc}/odbcinst.ini" 2>/dev/null || true
  printf '\n[ZO Test Driver]\nDescription=zo test driver\nDriver=%s\n' "$scratch/odbc/libzotestodbc.so"
} >"$scratch/odbc/odbcinst.ini"
export ODBCSYSINI=$scratch/odbc ZO_TEST_DRIVER_LIBRARY=$scratch/odbc/libzotestodbc.so

# The window programs draw on a private virtual display, which must be there
# before the prefix is warmed up (a display added later stalls the first
# window for seconds). Wine's own fonts go into the prefix, where it looks
# for them; and without a window manager every hidden window would stall
# for two seconds unless Wine manages the windows itself (Managed=N).
display_file=$scratch/display
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$display_file" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$display_file")
stop_display() { kill "$xvfb_pid" 2>/dev/null || true; }
trap 'stop_wine; stop_display' EXIT

# The server and one warm-up run (which creates the prefix, some seconds)
# start in a session of their own with every stream on /dev/null: Wine's
# background processes outlive the program they served, and holding ctest's
# pipes they would keep it waiting for ever. The warm-up is waited for, but
# never longer than five minutes.
timeout 30 setsid -w wineserver -p </dev/null >/dev/null 2>&1
timeout 300 setsid -w wine cmd /c exit </dev/null >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

# No suite may hang the pass: each has ten minutes at most. The suites'
# second runs with zlib alone as the codec ("_zlib") ran natively; what they
# reach does not depend on the system.
start=$(date +%s)
ctest --test-dir "$win" --output-on-failure -j "$(nproc)" --timeout 600 -E '_zlib$' ${CTEST_ARGS:-}
echo "test-windows: the Windows suites took $(( $(date +%s) - start )) s"

# The upgrade tool's window, driven as a user drives it.
bash scripts/test-windows-window.sh "$win" "$scratch"
