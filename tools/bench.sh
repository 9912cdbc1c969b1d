#!/usr/bin/env bash
# Builds and runs the benchmarks, printing their figures with the targets beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build/native -G Ninja >/dev/null
cmake --build build/native --target ini_bench >/dev/null
build/native/ini_bench
echo
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake --no-warn-unused-cli >/dev/null
cmake --build build/win32 --target tovik settings_bench startup_bench program_bench bare_window stamp >/dev/null
export TOVIK_WINE_ROOT=$PWD/build/win32/bench-wine
session=tests/tools/wine-session.sh
"$session" start
trap '"$session" stop' EXIT
"$session" run build/win32/bin/settings_bench.exe
echo
"$session" run build/win32/bin/startup_bench.exe
echo
"$session" run build/win32/bin/program_bench.exe
