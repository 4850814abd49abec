#!/usr/bin/env bash
# Installs what is missing, builds and runs every test suite.
# The database suites run against a private PostgreSQL cluster that this script
# starts before the tests and stops after them, also when they fail.
#
#   scripts/test.sh              # normal build in build/, then ASan + UBSan in build-asan/,
#                                # then the engine's suites under ThreadSanitizer in build-tsan/
#                                # then the archiver for Windows under Wine in build-win/
#   ZO_QUICK=1 scripts/test.sh   # the normal build only (no sanitizer or Windows pass)
#   ZO_SANITIZE_PASS=0 scripts/test.sh  # the same
#   ZO_SANITIZE=1 scripts/test.sh  # ASan + UBSan build in build-asan/ only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "${ZO_QUICK:-0}" = 1 ]; then ZO_SANITIZE_PASS=0; fi

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

# Second pass: every suite again in the ASan + UBSan build (LeakSanitizer
# included), against the same test server. ZO_SANITIZE_PASS=0 skips it.
# LeakSanitizer's tracer now and then crashes at a process's exit with no
# leak to report ("Tracer caught signal 11"), so a failed suite runs once more
# before it counts; a real leak or error fails both runs. The suites' second
# runs with zlib alone as the codec (the "_zlib" tests) ran in the first pass;
# the code they reach is the same in both builds.
if [ "${ZO_SANITIZE:-0}" != 1 ] && [ "${ZO_SANITIZE_PASS:-1}" = 1 ]; then
  asan=${ZO_ASAN_BUILD_DIR:-build-asan}
  cmake -S . -B "$asan" -G Ninja -DZO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$asan" -j "$(nproc)"
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    ctest --test-dir "$asan" --output-on-failure -j "$(nproc)" --repeat until-pass:2 -E '_zlib$' ${CTEST_ARGS:-}
fi

# Third pass: the engine's suites, whose workers compress and extract on
# several threads, under ThreadSanitizer. Skipped with the second.
if [ "${ZO_SANITIZE:-0}" != 1 ] && [ "${ZO_SANITIZE_PASS:-1}" = 1 ]; then
  tsan=${ZO_TSAN_BUILD_DIR:-build-tsan}
  tsan_suites="zipread_tests zipwrite_tests bundlet_tests"
  cmake -S . -B "$tsan" -G Ninja -DZO_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$tsan" -j "$(nproc)" --target bundlet $tsan_suites
  TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1} \
    ctest --test-dir "$tsan" --output-on-failure -j "$(nproc)" \
      -R "^(zipread_tests|zipwrite_tests|bundlet_tests|bundlet_cli_tests|faults_bundlet)$"
fi

# Fourth pass: the archiver cross-built for Windows (MinGW-w64) in build-win/,
# its suites run under Wine. Skipped with the second.
if [ "${ZO_SANITIZE:-0}" != 1 ] && [ "${ZO_SANITIZE_PASS:-1}" = 1 ]; then
  bash scripts/test-windows.sh
fi
