#!/usr/bin/env bash
# Builds the fuzz targets natively and runs each for SECONDS, starting from
# its seed corpus and the kept regression inputs.
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
  mkdir -p "$work/$target"
  cp "$seeds"/* "$work/$target/"
  # Kept crashing inputs run first, once each.
  regressions=("$here/regressions/$target"-*)
  if [ -e "${regressions[0]}" ]; then
    "$build/fuzz_$target" "${regressions[@]}" >"$work/$target.regressions.log" 2>&1 ||
      { echo "fuzz_$target: a regression input fails again"; tail -30 "$work/$target.regressions.log"; status=1; }
  fi
  if "$build/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$work/$target-" "$work/$target" \
      >"$work/$target.log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'Done [0-9]* runs' "$work/$target.log") in ${seconds}s, no finding"
  else
    echo "fuzz_$target: FINDING"; grep -E 'ERROR|SUMMARY|^    #[0-9] ' "$work/$target.log" | head -20
    for crash in "$work/$target"-*; do
      [ -e "$crash" ] && cp "$crash" "$here/regressions/$target-$(basename "$crash" | sed "s/^$target-//")" &&
        echo "  kept as tests/fuzz/regressions/$target-$(basename "$crash" | sed "s/^$target-//")"
    done
    status=1
  fi
done
exit $status
