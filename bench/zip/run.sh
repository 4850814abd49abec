#!/usr/bin/env bash
# Compression speed of the ZIP engine beside zlib's own single-thread deflate
# (and Info-ZIP's zip -1/-6/-9 as a peer tool), same data, same levels, one run.
#
#   bench/zip/run.sh [size in MiB]      (default 16)
#
# Input: real text (the system's C headers) and real binaries (shared
# libraries), concatenated to the requested size, kept in a temporary directory.
set -euo pipefail
size_mib=${1:-16}
# shellcheck source=bench/engine.sh
source "$(dirname "$0")/../engine.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target zip_bench -j2 >/dev/null

make_text_input "$work/text.bin"
make_binary_input "$work/binary.bin"

for input in text binary; do
  echo "== $input =="
  "$build/bench/zip_bench" "$work/$input.bin" "$work" 1 6 9
  for level in 1 6 9; do
    rm -f "$work/peer.zip"
    start=$(date +%s.%N)
    (cd "$work" && zip -q -"$level" peer.zip "$input.bin")
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v b="$(stat -c %s "$work/$input.bin")" -v z="$(stat -c %s "$work/peer.zip")" -v l="$level" \
      'BEGIN { printf "%-5d %-8s %10.1f %10.2f   (peer, one run)\n", l, "zip", b / 1e6 / (e - s), 100 * z / b }'
  done
done
