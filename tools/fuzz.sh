#!/usr/bin/env bash
# A longer fuzz run of every harness: tools/fuzz.sh [SECONDS-EACH] (default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
TOVIK_FUZZ_SECONDS=${1:-600}
tools/setup.sh
CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOVIK_FUZZ=ON -DTOVIK_FUZZ_SECONDS="$TOVIK_FUZZ_SECONDS" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake --build build/sanitize
ctest --test-dir build/sanitize --output-on-failure -R '^fuzz_' -j "$(nproc)"
