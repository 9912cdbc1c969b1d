#!/usr/bin/env bash
# Sets up what is missing, builds the native and the Windows trees, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
tools/setup.sh
jobs=$(nproc)

cmake -S . -B build/native -G Ninja
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

# The core again under AddressSanitizer and UndefinedBehaviorSanitizer, with a short fuzz run
# of every harness (TOVIK_FUZZ_SECONDS each).
CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOVIK_FUZZ=ON -DTOVIK_FUZZ_SECONDS="${TOVIK_FUZZ_SECONDS:-10}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake --build build/sanitize -j "$jobs"

# The Wine tests run in the tree this machine can run; the shipped 32-bit exe's header is
# checked wherever that is not its own tree.
tree=$(tools/windows-tree.sh)
if [ "$tree" != build/win32 ]; then
  cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build/win32 -j "$jobs" --target tovik
  ctest --test-dir build/win32 --output-on-failure -R '^exe_header$'
fi

# The Wine tests mostly wait on the window, so the sanitized tests and fuzzers run beside them
# on one core. The Wine tests run one at a time: they share one display and one session.
ctest --test-dir build/sanitize --output-on-failure >build/sanitize/ctest.log 2>&1 &
sanitized=$!
wine_status=0
ctest --test-dir "$tree" --output-on-failure || wine_status=$?
sanitize_status=0
wait "$sanitized" || sanitize_status=$?
cat build/sanitize/ctest.log
if [ "$wine_status" -ne 0 ] || [ "$sanitize_status" -ne 0 ]; then
  echo "test: failed after $((SECONDS - started)) s" >&2
  exit 1
fi

# The release archive: the same commit must give the same bytes in two folders.
tools/release.sh --verify
echo "test: every test passed in $((SECONDS - started)) s"
