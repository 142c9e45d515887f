#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it together with
# the bundled instrument simulator, whose line appears in the port list.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
source scripts/configure.sh

# The default folders (a cache narrowed by hand would lack the guide).
pm_configure build -UPM_SUBDIRS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target pmservice pmsim pm_guide

build/sim/pmsim &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT
sleep 0.5
cd build/app && ./pmservice
