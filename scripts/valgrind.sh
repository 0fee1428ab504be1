#!/usr/bin/env bash
# One run of the native unit tests under valgrind's memcheck: any memory error or leak fails.
# Usage: scripts/valgrind.sh [path to vuro_unit_tests]; by default the native preset's binary,
# built first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

binary="${1:-build/native/tests/vuro_unit_tests}"
if [[ ! -x "$binary" ]]; then
  cmake --preset native
  cmake --build --preset native --target vuro_unit_tests
fi

exec valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible \
  --suppressions=scripts/valgrind.supp \
  "$binary" --gtest_brief=1
