#!/usr/bin/env bash
# Installs what is missing, builds the program and its tests twice (plain and
# with AddressSanitizer + UndefinedBehaviorSanitizer), gives each fuzz target a
# short run (scripts/fuzz.sh SECONDS for a longer one) and runs every test in
# both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test
source scripts/configure.sh

JOBS=$(nproc)
# The run command shares build/ without tests: switch them back on here.
pm_configure build -UPM_SUBDIRS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPM_BUILD_TESTS=ON -DPM_BUILD_BENCH=ON -DPM_BUILD_TOOLS=ON
cmake --build build -j"$JOBS"
# The sanitizers with line tables only: their reports still name the lines,
# and the build is much faster than with full debug information.
pm_configure build-asan -UPM_SUBDIRS -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" \
  -DPM_SANITIZE=ON -DPM_BUILD_TESTS=ON -DPM_BUILD_BENCH=OFF -DPM_BUILD_TOOLS=OFF
cmake --build build-asan -j"$JOBS"

# Runs ctest in a build folder; adds its counts to the totals.
passed=0
failed=0
run_ctest() {
  local dir=$1 log
  log=$(mktemp)
  shift
  set +e
  # Twice as many tests as cores: most of them wait on their lines and
  # simulators rather than compute.
  (cd "$dir" && env "$@" ctest --output-on-failure --no-tests=error -j"$((JOBS * 2))") | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line total nfail
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  nfail=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${nfail:-0}))
  failed=$((failed + ${nfail:-0}))
  return "$rc"
}

status=0
# The fuzz targets build and run on one core while the plain build's tests,
# which mostly wait on their lines, run beside them.
fuzz_log=$(mktemp)
PM_FUZZ_JOBS=1 scripts/fuzz.sh >"$fuzz_log" 2>&1 &
fuzz_pid=$!
run_ctest build QT_QPA_PLATFORM=offscreen || status=1
wait "$fuzz_pid" || status=1
cat "$fuzz_log"
rm -f "$fuzz_log"
run_ctest build-asan ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 || status=1

echo "plain and sanitizer builds together:"
echo "${passed} passed, ${failed} failed"
exit "$status"
