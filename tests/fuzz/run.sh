#!/usr/bin/env bash
# Builds the fuzz targets natively and runs each for SECONDS from its seed
# corpus and its kept findings (regressions/TARGET/, run first, once each); a
# new finding is kept there too.
#   tests/fuzz/run.sh SECONDS [BUILD_DIR]
set -euo pipefail
seconds=${1:?seconds}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../../build/fuzz}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for seeds in "$here"/corpus/*/; do
  target=$(basename "$seeds")
  kept=$here/regressions/$target
  # New inputs go to the first folder, so the seed corpus stays as it is.
  mkdir -p "$work/$target" "$kept"
  if "$build/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$kept/" "$work/$target" "$seeds" "$kept" \
      >"$work/$target.log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'Done [0-9]* runs' "$work/$target.log") in ${seconds}s, no finding"
  else
    echo "fuzz_$target: FINDING, kept in tests/fuzz/regressions/$target/"
    grep -E 'ERROR|SUMMARY|Test unit written|^    #[0-9] ' "$work/$target.log" | head -20
    status=1
  fi
done
exit $status
