#!/bin/bash
# Builds vurodetect and runs every test: the native build, then the Windows builds for x64 and
# x86 with their tests under Wine. Installs what is missing first (scripts/setup.sh). The build
# trees under build/ are kept and reused by the next run.
#
# Each preset's configure, build and test output goes to build/logs/; a step that fails has its
# log shown. Exits non-zero when any preset failed.
set -uo pipefail

readonly self=${0##*/}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) || exit 1
readonly root
readonly presets=(native windows-x64 windows-x86)
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
for preset in "${presets[@]}"; do
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

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "$self: FAILED: ${failed[*]}"
  exit 1
fi
echo "$self: all presets passed: ${presets[*]}"
