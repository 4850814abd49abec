#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (LeakSanitizer included) and runs each one for
# a while, one after the other, at the lowest priority. Not part of CI: CI
# replays the corpora once through the fuzz_*_replay tests.
#
#   scripts/fuzz.sh [seconds per target, default 600] [target ...]
#   FUZZ_BUILD_DIR=build-fuzz scripts/fuzz.sh 120 core_parsers aes
#
# New interesting inputs go to $build/fuzz-work/<target>/ (the seed corpus in
# tests/fuzz/corpus/<target>/ is only read); a crashing input is written to
# $build/fuzz-artifacts/<target>/ and the script goes on with the next
# target. A finding belongs in the seed corpus as finding-<what> once fixed.
# To keep what a run reached for the replay tests:
#   $build/tests/fuzz/<target>_fuzz -merge=1 tests/fuzz/corpus/<target> $build/fuzz-work/<target>
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
shift || true
build=${FUZZ_BUILD_DIR:-build-fuzz}
all=(core_parsers aes splitter text_codecs upliner_cmdline bundlet_cmdline zip)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DZO_FUZZ=ON -DZO_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
nice -n 19 cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzz}" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  artifacts="$build/fuzz-artifacts/$t"
  mkdir -p "$work" "$artifacts"
  echo "== $t: ${seconds}s"
  nice -n 19 "$build/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -max_len=65536 -timeout=20 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "$root/tests/fuzz/corpus/$t" 2>"$build/fuzz-$t.log"
  rc=$?
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$build/fuzz-$t.log" | tail -3
  if [ $rc -ne 0 ]; then
    status=1
    echo "!! $t found a problem (exit $rc), see $build/fuzz-$t.log and $artifacts/"
  fi
done
exit $status
