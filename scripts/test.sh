#!/usr/bin/env bash
# Builds Wendrake and runs every test: the native suites, the same suites
# under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build's
# suites under Wine, and the end-to-end scenarios of both programs.
# Installs what is missing first. Run from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --all
export WENDRAKE_WERROR=ON
jobs=$(nproc)

failed=()
run_preset() {
  local preset=$1
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  if ! ctest --preset "$preset" -j "$jobs"; then failed+=("$preset"); fi
}

run_preset linux
run_preset linux-asan
run_preset windows

if [ -d tests/e2e ] && ls tests/e2e/*.sh >/dev/null 2>&1; then
  for scenario in tests/e2e/run-*.sh; do
    echo "=== e2e: $scenario"
    if ! bash "$scenario"; then failed+=("$scenario"); fi
  done
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test suites passed."
