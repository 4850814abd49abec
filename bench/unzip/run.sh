#!/usr/bin/env bash
# Extraction speed of the ZIP engine beside zlib's own inflate and beside
# Info-ZIP's unzip, on the same archives, in one run.
#
#   bench/unzip/run.sh [size in MiB]      (default 128)
#
# Archives (written by zip -6): "large" holds one text and one binary file of
# the requested size each (real C headers and shared libraries); "small"
# holds the system's C headers as thousands of small files.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
size_mib=${1:-128}
build=${ZO_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/unzip-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target zo_zip -j2 >/dev/null
g++ -std=c++20 -O2 -I"$root" "$root/bench/unzip/unzip_bench.cpp" -o "$work/unzip_bench" \
  "$build/zip/libzo_zip.a" "$build/core/libzo_core.a" "$build/platform/libzo_platform.a" -lz

make_input() {  # $1: file, $2: source list command
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt $((size_mib * 1048576)) ]; do
    eval "$2" 2>/dev/null | head -c $((size_mib * 1048576 - $(stat -c %s "$1"))) >> "$1" || true
  done
}
mkdir -p "$work/large"
make_input "$work/large/text.bin" 'find /usr/include -type f -name "*.h" -print0 | sort -z | xargs -0 cat'
make_input "$work/large/binary.bin" 'find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name "*.so*" -type f -print0 | sort -z | xargs -0 cat'
(cd "$work/large" && zip -q -6 "$work/large.zip" text.bin binary.bin)
(cd /usr && zip -q -6 -r "$work/small.zip" include)

peer() {  # $1: label, $2: bytes, $3...: command
  local label=$1 bytes=$2; shift 2
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v b="$bytes" -v l="$label" 'BEGIN { printf "%-28s %10.1f MB/s   (peer)\n", l, b / 1e6 / (e - s) }'
}

for name in large small; do
  archive="$work/$name.zip"
  bytes=$(unzip -Zt "$archive" | awk '{ print $3 }')
  echo "== $name: $(unzip -Z1 "$archive" | wc -l) entries, $((bytes / 1048576)) MiB uncompressed, $(($(stat -c %s "$archive") / 1048576)) MiB archive =="
  sync
  "$work/unzip_bench" "$archive" "$work"
  peer "unzip -p (to /dev/null)" "$bytes" sh -c "unzip -p '$archive' > /dev/null"
  peer "unzip (to files)" "$bytes" unzip -q -o "$archive" -d "$work/unzip-out"
  rm -rf "$work/engine-out" "$work/unzip-out"
done
