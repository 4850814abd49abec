#!/usr/bin/env bash
# Installs what is missing, builds and runs every test suite.
# The database suites run against a private PostgreSQL cluster that this script
# starts before the tests and stops after them, also when they fail.
#
#   scripts/test.sh              # normal build in build/
#   ZO_SANITIZE=1 scripts/test.sh  # ASan + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

if [ "${ZO_SANITIZE:-0}" = 1 ]; then
  build=${ZO_BUILD_DIR:-build-asan}
  cmake -S . -B "$build" -G Ninja -DZO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  build=${ZO_BUILD_DIR:-build}
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" -j "$(nproc)"

dbdir=$(mktemp -d /tmp/zo-testdb.XXXXXX)
trap 'bash "$root/scripts/testdb.sh" stop "$dbdir"; rm -rf "$dbdir"' EXIT
bash scripts/testdb.sh start "$dbdir"
# shellcheck disable=SC1091
source "$dbdir/env"

ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
