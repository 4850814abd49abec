#!/usr/bin/env bash
# Renders the Windows window of each mode, with and without the installer's
# banner, under Wine on a virtual display, to PNG files under docs/
# (docs/upliner-win-*.png), beside the Linux ones of scripts/screenshots.sh.
#
#   scripts/screenshots-windows.sh          # builds in build-win/ ($ZO_WIN_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
win=${ZO_WIN_BUILD_DIR:-build-win}

cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$win" --target upliner zo_window_driver -j "$(nproc)" >/dev/null
win=$(cd "$win" && pwd)

export LANG=C.UTF-8
scratch=$(mktemp -d /tmp/zo-winshots.XXXXXX)
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
mkdir -p "$WINEPREFIX" "$scratch/app"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true; kill $xvfb_pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 1 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$scratch/display")
# As in scripts/test-windows.sh: the display before the warm-up, Wine's
# fonts in the prefix, windows managed by Wine itself.
timeout 30 setsid -w wineserver -p </dev/null >/dev/null 2>&1
timeout 300 setsid -w wine cmd /c exit </dev/null >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

cp "$win/upliner/win32/upliner.exe" "$scratch/app/"
printf '5.0\r\n5.1\r\n5.2\r\n5.3\r\n' >"$scratch/app/Versions.sl"
mkdir -p docs
shoot() {  # name, window caption, then the program's arguments
  local name=$1 caption=$2
  shift 2
  local png=$scratch/$name.png
  wine "$win/tests/upliner/zo_window_driver.exe" "Z:${scratch//\//\\}\\app\\upliner.exe" "$*" "$caption" \
    shot "Z:${png//\//\\}" close </dev/null >/dev/null &
  local driver=$!
  for _ in $(seq 1 600); do [ -e "$png.ready" ] && break; sleep 0.05; done
  local id
  id=$(xwininfo -root -tree | awk -v c="\"$caption\"" 'index($0, c) { print $1; exit }')
  import -window "$id" "$scratch/shot.png"
  mv "$scratch/shot.png" "$png"
  wait "$driver"
  cp "$png" "docs/upliner-win-$name.png"
  echo "docs/upliner-win-$name.png"
}
shoot reinstall "Reinstall Database"
shoot reinstall-banner "Reinstall Database" "-n100;80"
shoot langs "Alter languages" -la
shoot langs-banner "Alter languages" -la "-n100;80"
shoot archive "Alter archive" -aa
shoot archive-banner "Alter archive" -aa "-n100;80"
shoot extdb "Alter external db" -ea
shoot extdb-banner "Alter external db" -ea "-n100;80"
