#!/usr/bin/env bash
# The archiver cross-built for Windows (MinGW-w64) and its suites run under
# Wine: the fourth pass of scripts/test.sh, and on its own after
# scripts/setup.sh.
#
#   scripts/test-windows.sh      # build-win/ (or $ZO_WIN_BUILD_DIR)
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

WINEPREFIX=$(mktemp -d /tmp/zo-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT

# The server and one warm-up run (which creates the prefix, some seconds)
# start in a session of their own with every stream on /dev/null: Wine's
# background processes outlive the program they served, and holding ctest's
# pipes they would keep it waiting for ever. The warm-up is waited for, but
# never longer than five minutes.
timeout 30 setsid -w wineserver -p </dev/null >/dev/null 2>&1
timeout 300 setsid -w wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# No suite may hang the pass: each has ten minutes at most.
ctest --test-dir "$win" --output-on-failure -j "$(nproc)" --timeout 600 ${CTEST_ARGS:-}
