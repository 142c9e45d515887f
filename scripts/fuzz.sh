#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (under AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each of them from its
# committed seed corpus.
#
#   scripts/fuzz.sh            short run: a fixed number of executions each
#                              (fewer for the slow ones, which open files)
#   scripts/fuzz.sh SECONDS    longer run: each target for SECONDS seconds
#
# New inputs go to a scratch folder, not into the committed corpus; a crash,
# a run of more than 10 s, 1 GB in all or one allocation of more than 256 MB
# leaves its input in build-fuzz/crashes/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${PM_FUZZ_RUNS:-20000}
SECONDS_EACH=${1:-}
if [[ -n "$SECONDS_EACH" && ! "$SECONDS_EACH" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi
CXX=${PM_FUZZ_CXX:-clang++-14}
BUILD=build-fuzz
TARGETS=(exchange image reftable numbers telnet addresses settings journal args)
# Per target: the short run's executions as a share of RUNS (a settings
# file and a journal are written to the disk for each input, a journal is
# then opened twice), and the largest input (a journal of a few small
# pages).
declare -A RUNS_DIVISOR=([settings]=4 [journal]=10)
declare -A MAX_LEN=([journal]=16384)

source scripts/configure.sh
pm_configure "$BUILD" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DPM_SUBDIRS="ui;link;device;settings;journal;ops;trend;line;range;verify;cli;fuzz" -DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=OFF
cmake --build "$BUILD" -j"${PM_FUZZ_JOBS:-$(( $(nproc) < 2 ? $(nproc) : 2 ))}" \
  --target "${TARGETS[@]/#/fuzz_}" >/dev/null

mkdir -p "$BUILD/crashes"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
for t in "${TARGETS[@]}"; do
  if [[ -n "$SECONDS_EACH" ]]; then
    limit=(-max_total_time="$SECONDS_EACH")
  else
    limit=(-runs="$(( RUNS / ${RUNS_DIVISOR[$t]:-1} ))")
  fi
  mkdir -p "$scratch/$t"
  log="$scratch/$t.log"
  if "$BUILD/fuzz/fuzz_$t" "${limit[@]}" -max_len="${MAX_LEN[$t]:-4096}" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 \
      -print_final_stats=1 -artifact_prefix="$BUILD/crashes/$t-" \
      "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n1)
    printf 'fuzz_%-9s %8s executions in %s s, no fault\n' "$t" "${execs:-?}" "${secs:-?}"
  else
    failed=1
    echo "fuzz_$t: FAULT (input saved under $BUILD/crashes/)"
    tail -n 40 "$log"
  fi
done
exit $failed
