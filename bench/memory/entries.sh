#!/usr/bin/env bash
# Peak memory of packing and unpacking many small files: bundlet with one and
# two workers beside bsdtar, zip and unzip, on the same files and the same
# archive in the same run.
#
#   bench/memory/entries.sh [count ...]      (default 100000 1000000)
#
# Each file holds a line of text and has a 59-byte name ("dir_0042/" and a
# 50-byte file name, a thousand files to a directory). Every tool packs the
# tree and unpacks bundlet's archive of it; /usr/bin/time gives the peak
# resident set of each run. What bundlet holds per entry shows as the growth
# from one count to the next: it should stay linear, a few hundred bytes an
# entry, under 40 MiB at 100,000 entries.
#
# A million files take some 4 GiB of disk in $TMPDIR and several minutes.
set -euo pipefail
[ $# -gt 0 ] || set -- 100000 1000000
# shellcheck source=bench/engine.sh
source "$(dirname "$0")/../engine.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bundlet -j2 >/dev/null
bundlet=$build/bundlet/bundlet

make_tree() {   # <directory> <count>
  python3 - "$1" "$2" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "dir_%04d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(folder)
    name = "file_%07d_" % i
    name += "x" * (59 - len("dir_0000/") - len(name))
    with open(os.path.join(folder, name), "w") as f:
        f.write("entry %d\n" % i)
EOF
}

# Runs a command and prints its peak resident set under a label.
peak() {   # <label> <command ...>
  local label=$1
  shift
  /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null 2>&1
  local kib
  kib=$(tail -1 "$work/peak")
  printf '  %-34s %8d KiB  %s MiB\n' "$label" "$kib" "$(awk -v k="$kib" 'BEGIN { printf "%7.1f", k / 1024 }')"
}

fresh_out() { rm -rf "$work/out" && mkdir "$work/out"; }

for count in "$@"; do
  rm -rf "$work/tree" "$work"/*.zip "$work/out"
  make_tree "$work/tree" "$count"
  echo "== $count files with 59-byte names =="
  for threads in 1 2; do
    rm -f "$work/bundlet.zip"
    BUNDLET_THREADS=$threads peak "bundlet -Aza, $threads worker(s)" "$bundlet" -Aza "-D$work/tree" "-Z$work/bundlet.zip"
  done
  peak "bsdtar -cf --format zip" bsdtar -cf "$work/bsdtar.zip" --format zip -C "$work/tree" .
  (cd "$work/tree" && peak "zip -qr" zip -qr "$work/zip.zip" .)
  for threads in 1 2; do
    fresh_out
    BUNDLET_THREADS=$threads peak "bundlet -Aua, $threads worker(s)" "$bundlet" -Aua "-D$work/out" "-Z$work/bundlet.zip"
  done
  [ "$(find "$work/out" -type f | wc -l)" -eq "$count" ] || { echo "bundlet unpacked the wrong number of files" >&2; exit 1; }
  fresh_out
  peak "bsdtar -xf" bsdtar -xf "$work/bundlet.zip" -C "$work/out"
  fresh_out
  peak "unzip -q" unzip -q "$work/bundlet.zip" -d "$work/out"
  rm -rf "$work/out"
done
