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
size_mib=${1:-128}
# shellcheck source=bench/engine.sh
source "$(dirname "$0")/../engine.sh"
build_engine_bench unzip

mkdir -p "$work/large"
make_text_input "$work/large/text.bin"
make_binary_input "$work/large/binary.bin"
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
