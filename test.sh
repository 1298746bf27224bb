#!/usr/bin/env bash
# Builds the program and its tests and runs every test.
#   ./test.sh             normal build in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   ./test.sh --fuzz      the fuzz targets, built with clang in build-fuzz/, a short run each
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh

if [ "${1:-}" = "--fuzz" ]; then
  exec bash scripts/fuzz.sh
fi

# Includes point down the program's floors (scripts/check-floors.sh says the order).
bash scripts/check-floors.sh

build=build
options=(-DBULKSMS_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  options+=(-DBULKSMS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
