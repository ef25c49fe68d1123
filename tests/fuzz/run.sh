#!/usr/bin/env bash
# Builds the fuzz targets natively and runs each for SECONDS (see CMakeLists.txt).
#   tests/fuzz/run.sh SECONDS [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../../build/fuzz}
rm -rf "$build/found"  # each run starts from the seeds and the kept findings
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DFUZZ_SECONDS="${1:?seconds}" >/dev/null
cmake --build "$build" >/dev/null
ctest --test-dir "$build" --output-on-failure
