#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang) and runs each for
# the given number of seconds (default 30) on a copy of its seed corpus, so
# that what the fuzzer adds never lands in the repository. Fails when a
# target crashes or a check in it fails; the crashing input is kept in the
# run's directory, which is printed. The targets change their current
# directory, so every path handed to them is absolute. Run from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
echo "=== fuzz: build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/wendrake-fuzz-run-XXXXXX")
failed=()
for target in command_file_fuzz scan_fuzz; do
  echo "=== fuzz: $target for ${seconds}s"
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp fuzz/corpus/$target/* "$work/$target/corpus/"
  if ! (cd "$work/$target" &&
        "$OLDPWD/build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
          -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" >"$work/$target/log" 2>&1); then
    failed+=("$target")
    tail -n 60 "$work/$target/log"
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target/log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "FUZZ FAILED: ${failed[*]} (inputs and logs in $work)"
  exit 1
fi
rm -rf "$work"
echo "All fuzz targets ran clean."
