#!/usr/bin/env bash
# The console zip tool at work: packs a sample folder, lists the archive with a
# peer tool, unpacks it into a fresh folder and compares the two trees.
#
#   scripts/demo-bundlet.sh <build directory>
set -euo pipefail
build=${1:?usage: demo-bundlet.sh <build directory>}
bundlet=$(cd "$build" && pwd)/bundlet/bundlet
[ -x "$bundlet" ] || { echo "demo-bundlet: $bundlet is not built" >&2; exit 1; }

work=$(mktemp -d /tmp/zo-demo-bundlet.XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
sample="$work/sample"

# A small tree with the things archives get wrong: empty files and folders,
# hidden files, blanks and non-ASCII names, a read-only file, nesting.
mkdir -p "$sample/docs/empty folder" "$sample/src/deep/deeper" "$sample/Übersicht"
printf 'Bundlet demo\n' > "$sample/README.txt"
seq 1 20000 > "$sample/docs/numbers.txt"
: > "$sample/docs/empty.txt"
printf 'hidden\n' > "$sample/.settings"
printf 'int main() { return 0; }\n' > "$sample/src/deep/deeper/main.c"
printf 'Grüße aus Zürich\n' > "$sample/Übersicht/café menu.txt"
printf 'Ω\n' > "$sample/Übersicht/Ωmega.txt"
head -c 300000 /dev/urandom > "$sample/src/random.bin"
printf 'read me, do not change me\n' > "$sample/docs/readonly.txt"
chmod a-w "$sample/docs/readonly.txt"

run() {
  printf '\n$ %s\n' "$*"
  "$@"
}

echo "== Pack the whole folder (nothing is printed on success)"
run "$bundlet" -Aza "-D$sample" "-Z$work/sample.zip"

echo
echo "== List and test it with peer tools (Python's zipfile decodes the OEM names)"
run python3 -m zipfile -l "$work/sample.zip"
run unzip -tq "$work/sample.zip"

echo
echo "== Unpack into a folder that does not exist yet"
run "$bundlet" -Aua "-D$work/restored/here" "-Z$work/sample.zip"

echo
echo "== Compare the trees (content, then the files' modification times)"
run diff -r "$sample" "$work/restored/here"
(cd "$sample" && find . -type f -printf '%P %TY-%Tm-%Td %TH:%TM\n' | sort) > "$work/times.src"
(cd "$work/restored/here" && find . -type f -printf '%P %TY-%Tm-%Td %TH:%TM\n' | sort) > "$work/times.out"
run diff "$work/times.src" "$work/times.out"
echo "identical"

echo
echo "== Pack parts of folders: a file and a subfolder (-D<base>\\\\<part>)"
run "$bundlet" -Azp "-D$sample\\\\docs\\numbers.txt" "-D$sample\\\\src" "-Z$work/parts.zip"
run python3 -m zipfile -l "$work/parts.zip"

echo
echo "== A failure prints its text on standard output; the exit code stays 0"
run "$bundlet" -Aua "-D$work/x" "-Z$work/no-such.zip" && echo "exit code $?"
run "$bundlet" -aza && echo "exit code $?"
