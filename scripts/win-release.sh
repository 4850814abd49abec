#!/usr/bin/env bash
# The Windows release archive upliner-<version>-win64.zip, packed by our own
# bundlet: the cross build's bundlet.exe under Wine (the caller's
# WINEPREFIX), or the Linux one given as ZO_BUNDLET.
#
#   scripts/win-release.sh BUILD_WIN OUT_DIR     # prints the archive's path
#
# The archive unpacks into one folder, upliner-<version>-win64\, which is a
# working example installation: upliner.exe with the demo's Versions.sl,
# Lifter_<version>\Lifter.exe and IVersion_<version>\ beside it; also
# bundlet.exe, the reference Lifter.exe, the demo database's bootstrap.sql
# and README.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
win=$(cd "${1:?usage: $0 BUILD_WIN OUT_DIR}" && pwd)
mkdir -p "${2:?usage: $0 BUILD_WIN OUT_DIR}"
out=$(cd "$2" && pwd)

version=$(sed -n 's/^project(zo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=upliner-$version-win64
stage=$(mktemp -d /tmp/zo-release.XXXXXX)
trap 'rm -rf "$stage"' EXIT
top=$stage/$name
mkdir -p "$top"

cp "$win/upliner/win32/upliner.exe" "$win/bundlet/bundlet.exe" "$win/lifter/Lifter.exe" "$top/"
cp demo/Versions.sl demo/LicenceNumber.txt demo/TargetLanguages.txt demo/bootstrap.sql "$top/"
while IFS= read -r v || [ -n "$v" ]; do
  v=${v%$'\r'}
  [ -n "$v" ] || continue
  mkdir -p "$top/Lifter_$v"
  cp "$win/lifter/Lifter.exe" "$top/Lifter_$v/"
  cp -r "demo/IVersion_$v" "$top/"
done <demo/Versions.sl
# Windows editors and Notepad want CR LF.
sed 's/$/\r/' packaging/windows/README.txt >"$top/README.txt"

archive=$out/$name.zip
rm -f "$archive"
if [ -n "${ZO_BUNDLET:-}" ]; then
  "$ZO_BUNDLET" -Aza "-D$stage" "-Z$archive" >/dev/null
else
  wine "$win/bundlet/bundlet.exe" -Aza "-DZ:${stage//\//\\}" "-ZZ:${archive//\//\\}" </dev/null >/dev/null
fi
echo "$archive"
