#!/usr/bin/env bash
# The main job: shows both programs at work on this machine.
# Installs what is missing, builds, then runs the console zip tool's demo and
# the upgrade tool's demo (a private PostgreSQL server, a real upgrade through
# the window, screenshots when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

echo
echo "################ Bundlet: packing and unpacking ################"
bash scripts/demo-bundlet.sh build

echo
echo "################ Upliner: upgrading a database ################"
bash scripts/demo-upliner.sh build
