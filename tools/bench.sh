#!/usr/bin/env bash
# Builds and runs the benchmarks, printing their figures with the targets beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build/native -G Ninja >/dev/null
cmake --build build/native --target ini_bench >/dev/null
build/native/ini_bench
echo
# The exe as it ships (the release's options), and where its bytes go, from the linker's map.
cmake -S . -B build/size -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DTOVIK_MINGW_THREADS=win32 >/dev/null
cmake --build build/size --target tovik >/dev/null
python3 tools/size-report.py build/size/bin/tovik.exe build/size/app/tovik.map $((160 * 1024))
echo
tree=$(tools/windows-tree.sh tovik settings_bench startup_bench program_bench bare_window recorder 2>/dev/null)
export TOVIK_WINE_ROOT=$PWD/$tree/bench-wine
session=tools/wine-session.sh
"$session" start
trap '"$session" stop' EXIT
"$session" run "$tree"/bin/settings_bench.exe
echo
"$session" run "$tree"/bin/startup_bench.exe
echo
"$session" run "$tree"/bin/program_bench.exe
