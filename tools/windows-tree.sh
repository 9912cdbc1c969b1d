#!/usr/bin/env bash
# Configures and builds the Windows tree that this machine can run under Wine and prints its
# path: build/win32, the program as it ships, or build/win64 where the kernel runs no 32-bit code.
#   windows-tree.sh [TARGET...]   (no target: everything)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$(tools/wine-session.sh arch)
tree=build/win32
if [ "$arch" = x86_64 ]; then
  tree=build/win64
  echo "windows-tree: this machine runs no 32-bit code; using a 64-bit build of the same sources" >&2
fi
cmake -S . -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
  --no-warn-unused-cli >/dev/null
if ! log=$(cmake --build "$tree" -j "$(nproc)" ${1:+--target "$@"} 2>&1); then
  echo "$log" >&2
  exit 1
fi
echo "$tree"
