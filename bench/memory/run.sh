#!/usr/bin/env bash
# Peak memory of the engine packing and unpacking with 0, 2 and 16 worker
# threads (bundlet runs one per core; the engine is asked for 16 directly),
# on large files that compress well and not at all, and on many small files.
#
#   bench/memory/run.sh [size in MiB]      (default 128)
#
# The promise: memory stays at a few block buffers per worker, under 64 MiB
# at 16 workers, whatever the file sizes.
#
# What memory grows by with the number of entries is measured by
# bench/memory/entries.sh, beside bsdtar, zip and unzip.
set -euo pipefail
size_mib=${1:-128}
# shellcheck source=bench/engine.sh
source "$(dirname "$0")/../engine.sh"
build_engine_bench memory

mkdir -p "$work/large" "$work/small"
make_text_input "$work/large/text.bin"
head -c $((size_mib * 1048576)) /dev/urandom > "$work/large/random.bin"
# The system's C headers as many small files (links followed, dangling ones left out).
python3 -c 'import shutil, sys; shutil.copytree("/usr/include", sys.argv[1], symlinks=False, ignore_dangling_symlinks=True, dirs_exist_ok=True)' "$work/small"

for corpus in large small; do
  echo "== $corpus: $(find "$work/$corpus" -type f | wc -l) files, $(du -sm "$work/$corpus" | cut -f1) MiB =="
  for threads in 0 2 16; do
    rm -rf "$work/out.zip" "$work/out"
    "$work/memory_bench" pack "$work/$corpus" "$work/out.zip" "$threads"
    "$work/memory_bench" unpack "$work/out.zip" "$work/out" "$threads"
  done
done
