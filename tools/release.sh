#!/usr/bin/env bash
# Builds dist/tovik-VERSION-win32.zip (tovik.exe, README, licence) and its SHA-256 file from the
# committed HEAD. The same commit gives the same bytes wherever and whenever it is built.
#   tools/release.sh            build the archive into dist/, with Scoop's manifest tovik.json
#   tools/release.sh --verify   build it twice in two folders and compare the bytes; the archive
#                               that was verified, and its exe, stay in build/release/
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
root=$PWD
tools/setup.sh --release
# The toolchain that makes the bytes, for the log: another version may make other bytes.
dpkg-query -W -f='release: ${Package} ${Version}\n' g++-mingw-w64-i686-win32 \
  binutils-mingw-w64-i686 mingw-w64-i686-dev cmake ninja-build python3 >&2 || true
version=$(sed -n 's/^#define TOVIK_VERSION_TEXT "\(.*\)"/\1/p' res/version.h)
name=tovik-$version-win32.zip

# Builds the archive for HEAD in a fresh folder of its own; prints the archive's path.
build_in() {
  local work=$1
  rm -rf "$work" && mkdir -p "$work/src"
  git -C "$root" archive HEAD | tar -x -C "$work/src"
  cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DTOVIK_MINGW_THREADS=win32 "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$work/src=." >/dev/null
  cmake --build "$work/build" --target tovik >/dev/null
  python3 - "$work/build/bin/tovik.exe" "$work/src/README.md" "$work/src/LICENSE" "$work/$name" <<'PY'
import sys, zipfile
exe, readme, licence, out = sys.argv[1:]
# Fixed names, order, times and modes: nothing of the build's moment or place enters the zip.
with zipfile.ZipFile(out, "w") as archive:
    for path, arcname in ((exe, "tovik.exe"), (licence, "LICENSE.txt"), (readme, "README.md")):
        info = zipfile.ZipInfo(arcname, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        info.create_system = 0
        with open(path, "rb") as f:
            archive.writestr(info, f.read(), compresslevel=9)
PY
  echo "$work/$name"
}

if [ "${1:-}" = "--verify" ]; then
  first=$(build_in "$(mktemp -d /tmp/tovik-release-a.XXXX)")
  sleep 2
  second=$(build_in "$(mktemp -d /tmp/tovik-release-b.XXXX)")
  if cmp -s "$first" "$second"; then
    echo "release: two builds in two folders gave the same $(sha256sum <"$first" | cut -c1-16)... bytes"
    # The archive that was verified stays for the tests of what ships.
    mkdir -p build/release
    cp "$first" "build/release/$name"
    cp "$(dirname "$first")/build/bin/tovik.exe" build/release/tovik.exe
    python3 tools/scoop-manifest.py "build/release/$name" >/dev/null
    rm -rf "$(dirname "$first")" "$(dirname "$second")"
    exit 0
  fi
  echo "release: the two builds differ: $first $second" >&2
  exit 1
fi

archive=$(build_in "$root/build/release")
mkdir -p dist
cp "$archive" "dist/$name"
(cd dist && sha256sum "$name" >"$name.sha256")
# Scoop's manifest for the zip, naming the repository whose releases carry it.
python3 tools/scoop-manifest.py "dist/$name" >/dev/null
echo "dist/$name"
cat "dist/$name.sha256"
