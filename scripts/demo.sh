#!/usr/bin/env bash
# The main job: shows both programs at work on this machine.
# Installs what is missing and builds first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
echo "demo: built. The programs' demos are added here as they land."
bash scripts/demo-bundlet.sh build
