#!/usr/bin/env bash
# Renders the upgrade window of each mode, with and without the installer's
# banner, to PNG files under docs/ (no display needed).
#
#   scripts/screenshots.sh            # builds in build/ and writes docs/upliner-*.png
#   ZO_BUILD_DIR=build-x scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZO_BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target upliner_screenshot -j "$(nproc)" >/dev/null

appdir=$(mktemp -d /tmp/upliner-shots.XXXXXX)
trap 'rm -rf "$appdir"' EXIT
printf '5.0\r\n5.1\r\n5.2\r\n5.3\r\n' >"$appdir/Versions.sl"

mkdir -p docs
export QT_QPA_PLATFORM=offscreen
shoot() {  # name, then the program's arguments
  local name=$1
  shift
  "$build/upliner/qt/upliner_screenshot" "$appdir" "docs/upliner-$name.png" "$@" 2>/dev/null
  echo "docs/upliner-$name.png"
}
shoot reinstall
shoot reinstall-banner "-n100;80"
shoot langs -la
shoot langs-banner -la "-n100;80"
shoot archive -aa
shoot archive-banner -aa "-n100;80"
shoot extdb -ea
shoot extdb-banner -ea "-n100;80"
