#!/usr/bin/env bash
# Sets up what is missing, builds the native and the Windows trees, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
tools/setup.sh
echo "test: set up at $((SECONDS - started)) s"
jobs=$(nproc)

# The Wine tests' prefix is made while the Windows tree builds; the run command's own test gets
# a copy of it, which costs next to nothing beside making a second one.
arch=$(tools/wine-session.sh arch)
tree=build/win32
[ "$arch" = i686 ] || tree=build/win64
(
  TOVIK_WINE_ROOT=$PWD/$tree/wine tools/wine-session.sh prepare
  if ! [ -f "$tree/run/wine/wineprefix/.tovik-ready" ]; then
    rm -rf "$tree/run/wine/wineprefix"
    mkdir -p "$tree/run/wine"
    cp -a "$tree/wine/wineprefix" "$tree/run/wine/wineprefix"
  fi
) &
prefixes=$!

# The Windows tree is the longest path: built first, with every core.
tools/windows-tree.sh >/dev/null
echo "test: the Windows tree built at $((SECONDS - started)) s"

# The Wine tests mostly wait on the window, so everything else runs beside them, in three chains
# that keep both cores busy: the native core tests; the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer; and the release archive (the same commit must give the same bytes in two folders) with the
# shipped 32-bit exe taken out of it through its cases, in a Wine session of its own.
(
  set -e
  cmake -S . -B build/native -G Ninja
  cmake --build build/native -j "$jobs"
  ctest --test-dir build/native --output-on-failure -j "$jobs"
  echo "test: the native chain ended at $((SECONDS - started)) s"
) >build/native.log 2>&1 &
native=$!
(
  set -e
  tools/release.sh --verify
  # The resources of the exe that ships and of the 64-bit build (the tests' stand-in where no
  # 32-bit code runs): each names its own architecture.
  cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/win64 --target tovik >/dev/null
  python3 tools/check-exe.py build/release/tovik.exe build/win64/bin/tovik.exe
  python3 tools/scoop-manifest.py --check build/release/tovik.json
  echo "test: the release archive verified at $((SECONDS - started)) s"
  TOVIK_BIN=$PWD/$tree/bin tools/test-shipped.sh --cases "$PWD"/build/release/tovik-*-win32.zip
  echo "test: the shipped exe's chain ended at $((SECONDS - started)) s"
) >build/shipped.log 2>&1 &
shipped=$!
(
  set -e
  CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  cmake --build build/sanitize -j "$jobs"
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
  echo "test: the sanitizer chain ended at $((SECONDS - started)) s"
) >build/sanitize.log 2>&1 &
sanitize=$!

# The Wine tests, one at a time: they share one display and one session.
wait "$prefixes"
wine_status=0
ctest --test-dir "$tree" --output-on-failure || wine_status=$?
echo "test: the Wine tests ended at $((SECONDS - started)) s"
# The save walk's counts; ctest shows a passing test's output only in its log.
grep -a '^save failures[^:]*: [0-9]' "$tree/Testing/Temporary/LastTest.log" | tr -d '\r' || true
beside_status=0
for chain in native sanitize shipped; do
  wait "${!chain}" || beside_status=$?
  cat "build/$chain.log"
done
shipped_line=$(grep '^shipped exe: ' build/shipped.log | tail -1)
echo "${shipped_line:-shipped exe: 0 passed, 1 failed (the run did not get so far; see above)}"
if [ "$wine_status" -ne 0 ] || [ "$beside_status" -ne 0 ]; then
  echo "test: failed after $((SECONDS - started)) s" >&2
  exit 1
fi
echo "test: every test passed in $((SECONDS - started)) s"
