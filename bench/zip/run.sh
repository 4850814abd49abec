#!/usr/bin/env bash
# Compression speed of the ZIP engine beside zlib's own single-thread deflate
# (and Info-ZIP's zip -1/-6/-9 as a peer tool), same data, same levels, one run.
#
#   bench/zip/run.sh [size in MiB]      (default 16)
#
# Input: real text (the system's C headers) and real binaries (shared
# libraries), concatenated to the requested size, kept in a temporary directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
size_mib=${1:-16}
build=${ZO_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/zip-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target zo_zip -j2 >/dev/null
g++ -std=c++20 -O2 -I"$root" "$root/bench/zip/zip_bench.cpp" -o "$work/zip_bench" \
  "$build/zip/libzo_zip.a" "$build/core/libzo_core.a" "$build/platform/libzo_platform.a" -lz

make_input() {  # $1: file, $2: source list command
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt $((size_mib * 1048576)) ]; do
    eval "$2" 2>/dev/null | head -c $((size_mib * 1048576 - $(stat -c %s "$1"))) >> "$1" || true
  done
}
make_input "$work/text.bin" 'find /usr/include -type f -name "*.h" -print0 | sort -z | xargs -0 cat'
make_input "$work/binary.bin" 'find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name "*.so*" -type f -print0 | sort -z | xargs -0 cat'

for input in text binary; do
  echo "== $input =="
  "$work/zip_bench" "$work/$input.bin" "$work" 1 6 9
  for level in 1 6 9; do
    rm -f "$work/peer.zip"
    start=$(date +%s.%N)
    (cd "$work" && zip -q -"$level" peer.zip "$input.bin")
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v b="$(stat -c %s "$work/$input.bin")" -v z="$(stat -c %s "$work/peer.zip")" -v l="$level" \
      'BEGIN { printf "%-5d %-8s %10.1f %10.2f   (peer, one run)\n", l, "zip", b / 1e6 / (e - s), 100 * z / b }'
  done
done
