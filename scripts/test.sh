#!/bin/bash
# Builds vurodetect and runs every test: the native build, then the Windows builds for x64 and
# x86 with their tests under Wine; then the checks under faults and hostile input: the native
# tests with sanitizers and under valgrind, a bounded run of each fuzz target, and one short pass
# of the benchmarks, whose own count checks must hold. Installs what is missing first
# (scripts/setup.sh). The build trees under build/ are kept and reused by the next run.
#
# Each preset's configure, build and test output goes to build/logs/; a step that fails has its
# log shown. Exits non-zero when any preset failed.
set -uo pipefail

readonly self=${0##*/}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) || exit 1
readonly root
readonly presets=(native windows-x64 windows-x86)
# Sanitizers and fuzzing: the native unit tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and each fuzz target run for VURO_FUZZ_SECONDS (60) from its seeds.
readonly checked_presets=(native-asan fuzz)
readonly logs=$root/build/logs

bash "$root/scripts/setup.sh" || {
  echo "$self: setup failed" >&2
  exit 1
}

cd "$root" || exit 1
mkdir -p "$logs" || exit 1

# Runs one step of a preset with its output in a log; shows the log when the step fails.
step() {
  local preset=$1 name=$2
  shift 2
  local log=$logs/$preset-$name.log
  if "$@" >"$log" 2>&1; then
    return 0
  fi
  echo "--- $preset: $name failed; output ($log):"
  cat "$log"
  return 1
}

# The summary that ctest prints at its end: the pass rate, the time and any failed tests.
ctest_summary() {
  sed -n '/tests passed\|No tests were found/,$p' "$1"
}

failed=()
for preset in "${presets[@]}" "${checked_presets[@]}"; do
  echo "=== $preset"
  start=$SECONDS
  if step "$preset" configure cmake --preset "$preset" &&
     step "$preset" build cmake --build --preset "$preset"; then
    if ctest --preset "$preset" >"$logs/$preset-test.log" 2>&1; then
      ctest_summary "$logs/$preset-test.log"
    else
      echo "--- $preset: tests failed; output ($logs/$preset-test.log):"
      cat "$logs/$preset-test.log"
      failed+=("$preset")
    fi
  else
    failed+=("$preset")
  fi
  echo "=== $preset: $((SECONDS - start)) s"
done

# ---------------------------------------------------------------------------------------------
# Memory checks: one run of the native unit test binary under valgrind's memcheck, zero errors.
echo "=== valgrind"
start=$SECONDS
if step valgrind memcheck bash scripts/valgrind.sh build/native/tests/vuro_unit_tests; then
  grep -h 'ERROR SUMMARY' "$logs/valgrind-memcheck.log"
else
  failed+=(valgrind)
fi
echo "=== valgrind: $((SECONDS - start)) s"

# ---------------------------------------------------------------------------------------------
# Benchmarks: one short pass (not a timing check); it fails when a benchmark's own count check
# does not hold, such as the probe copy's CeWriteFile calls and allocations.
echo "=== bench"
start=$SECONDS
if step bench configure cmake --preset bench &&
   step bench build cmake --build --preset bench &&
   step bench run build/bench/bench/vuro_benchmarks --benchmark_min_time=0.01 \
     --benchmark_color=false; then
  grep -h '^BM_ProbeCopy/' "$logs/bench-run.log"
else
  failed+=(bench)
fi
echo "=== bench: $((SECONDS - start)) s"

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "$self: FAILED: ${failed[*]}"
  exit 1
fi
echo "$self: all passed: ${presets[*]} ${checked_presets[*]} valgrind bench"
