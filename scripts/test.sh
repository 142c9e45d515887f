#!/usr/bin/env bash
# Installs what is missing, builds the program and its tests twice (plain and
# with AddressSanitizer + UndefinedBehaviorSanitizer), runs every test, then
# gives each fuzz target a short run (scripts/fuzz.sh SECONDS for a longer one).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test

JOBS=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$JOBS"
(cd build && ctest --output-on-failure -j"$JOBS")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPM_SANITIZE=ON -DPM_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j"$JOBS")

scripts/fuzz.sh
