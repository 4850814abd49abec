# Sourced by the ZIP engine's benchmarks (bench/zip, bench/unzip), after they
# set size_mib: the engine's libraries built for speed, one benchmark program
# linked against them, and inputs cut from real files.
#
#   build_engine_bench <name>   builds the target <name>_bench
#                               (bench/<name>/<name>_bench.cpp) and puts it
#                               in $work/<name>_bench
#   make_input <file> <command> fills file to size_mib MiB with what the
#                               command prints, repeated as often as needed
#   make_text_input <file>      the system's C headers
#   make_binary_input <file>    the system's shared libraries
#
# Sets root (the checkout), build (ZO_BENCH_BUILD or build-bench) and work (a
# temporary directory, removed on exit).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZO_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/$(basename "$(dirname "$0")")-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

build_engine_bench() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target "$1_bench" -j2 >/dev/null
  cp "$build/bench/$1_bench" "$work/$1_bench"
}

make_input() {
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt $((size_mib * 1048576)) ]; do
    eval "$2" 2>/dev/null | head -c $((size_mib * 1048576 - $(stat -c %s "$1"))) >> "$1" || true
  done
}
make_text_input() {
  make_input "$1" 'find /usr/include -type f -name "*.h" -print0 | sort -z | xargs -0 cat'
}
make_binary_input() {
  make_input "$1" 'find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name "*.so*" -type f -print0 | sort -z | xargs -0 cat'
}
