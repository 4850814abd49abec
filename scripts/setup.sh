#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run its demo.
# Idempotent: checks what is already there and installs only what is missing.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build pkg-config libgtest-dev
  # libraries the modules link
  zlib1g-dev libdeflate-dev libssl-dev unixodbc unixodbc-dev qt6-base-dev qt6-qpa-plugins
  # test database: PostgreSQL server and its ODBC driver
  postgresql-common postgresql-15 odbc-postgresql
  # peer zip tools and the checkers of what we write
  zip unzip p7zip-full libarchive-tools python3
  # ODBC benchmark peer (bench/odbc, not CI)
  python3-pyodbc
  # window screenshots without a display
  xvfb xauth fonts-dejavu-core imagemagick x11-utils
  # building the Debian packages and checking them (tests/packaging)
  dpkg-dev file lintian desktop-file-utils groff-base xdotool
  # locale sources, to test number text under a decimal-comma locale
  locales
  # the tree for Windows: cross compiler (with the Windows SDK headers and the
  # odbc32 and bcrypt import libraries), its zlib, and Wine to run the tests;
  # Wine's CNG (bcrypt) works through the host's GnuTLS
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev googletest wine wine64 fonts-wine libgnutls30
  # fuzzing and sanitizer runtime
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# libdeflate's source, for the Windows build, which compiles its C files
# itself (zip/CMakeLists.txt): Debian's source package, unpacked once into
# $LIBDEFLATE_SOURCE. Without it the Windows build uses zlib alone, so a
# mirror that cannot be reached only costs speed there.
LIBDEFLATE_SOURCE=/usr/local/src/zo-libdeflate
fetch_libdeflate_source() {
  [ -f "$LIBDEFLATE_SOURCE/lib/deflate_compress.c" ] && return 0
  local list=/etc/apt/sources.list.d/zo-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
      $SUDO tee "$list" >/dev/null
    $SUDO apt-get update -qq || return 1
  fi
  local scratch
  scratch=$(mktemp -d)
  (cd "$scratch" && apt-get source -qq libdeflate >/dev/null 2>&1) || { rm -rf "$scratch"; return 1; }
  local tree
  tree=$(find "$scratch" -maxdepth 1 -type d -name 'libdeflate-*' | head -n 1)
  [ -n "$tree" ] && [ -f "$tree/lib/deflate_compress.c" ] || { rm -rf "$scratch"; return 1; }
  $SUDO mkdir -p "$(dirname "$LIBDEFLATE_SOURCE")"
  $SUDO rm -rf "$LIBDEFLATE_SOURCE"
  $SUDO cp -r "$tree" "$LIBDEFLATE_SOURCE"
  rm -rf "$scratch"
}

if [ ${#missing[@]} -eq 0 ]; then
  fetch_libdeflate_source || echo "setup: libdeflate's source is not to be had; the Windows build uses zlib alone"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Keep any configuration file already on disk without asking: there is no one
# to answer in CI.
APT=(apt-get install -y -qq --no-install-recommends
     -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
$SUDO apt-get update -qq

# postgresql-common first, then tell it not to create and start a cluster of
# its own on 5432 when the server package arrives: the tests and the demo
# start private clusters.
if ! dpkg-query -W -f='${Status}' postgresql-common 2>/dev/null | grep -q 'install ok installed'; then
  $SUDO "${APT[@]}" postgresql-common >/dev/null
fi
if ! grep -qs '^create_main_cluster *= *false' /etc/postgresql-common/createcluster.conf; then
  echo 'create_main_cluster = false' | $SUDO tee -a /etc/postgresql-common/createcluster.conf >/dev/null
fi

$SUDO "${APT[@]}" "${missing[@]}" >/dev/null

fetch_libdeflate_source || echo "setup: libdeflate's source is not to be had; the Windows build uses zlib alone"
