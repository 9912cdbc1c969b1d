#!/usr/bin/env bash
# Runs the end-to-end suite against the shipped tovik.exe, the very bytes in the release zip: under
# Wine's 32-bit loader where the kernel runs 32-bit code, else under qemu's user-mode emulator in
# a user namespace with a binfmt_misc of its own (nothing outside the namespace changes). The
# probe and the recorder stay this machine's own build: a 32-bit program starts a 64-bit one and
# a 64-bit probe reads a 32-bit window as usual.
#   test-shipped.sh [--cases] [ZIP]
#     --cases  only the six cases the test command runs on every run (three tests, three starts),
#              once with X11's input and once with SendInput; without it, the whole suite with
#              the inputs TOVIK_INPUTS names (by default "x11"; "sendinput" as on Windows)
#     ZIP      the release archive to test; by default tools/release.sh builds one from HEAD
# Its last line is "shipped exe: N passed, M failed", or "shipped exe: not tested (REASON)" where
# the 32-bit program cannot run here, which is not a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Inside the namespace (or as they are where 32-bit code runs): the session, then the tests.
if [ "${1:-}" = --inside ]; then
  shift
  tools/wine-session.sh start || exit 1
  status=0
  /usr/bin/python3 tests/e2e/shipped.py "$@" || status=$?
  tools/wine-session.sh stop
  exit "$status"
fi
tools/setup.sh
work=$root/build/shipped
rm -rf "$work/e2e" && mkdir -p "$work"
suites=()  # every module of the suite, unless --cases
if [ "${1:-}" = --cases ]; then
  # The cases the test command runs on every run, with each way of giving input: X11's, and the
  # platform's own, which is all the same cases have on Windows.
  suites=(--inputs "x11 sendinput" --cases)
  shift
else
  # TOVIK_INPUTS: the backends to run them with, as the Windows run has them ("sendinput").
  suites=(--inputs "${TOVIK_INPUTS:-x11}")
  for module in tests/e2e/test_*.py; do suites+=("$(basename "$module" .py)"); done
  # The DLL search test plants a DLL of the exe's own kind.
  i686-w64-mingw32-g++-posix -shared -Os -s -static -o "$work/planted.dll" tests/e2e/planted.cpp
fi
zip=${1:-}
if [ -z "$zip" ]; then
  built=$(tools/release.sh)
  zip=$root/${built%%$'\n'*}
fi
python3 - "$zip" "$work/tovik.exe" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive, open(sys.argv[2], "wb") as exe:
    exe.write(archive.read("tovik.exe"))
PY
# The probe, the recorder and this build's own tovik.exe, which draws the window the shipped one
# must match; the test command passes the tree it built.
[ -n "${TOVIK_BIN:-}" ] || TOVIK_BIN=$root/$(tools/windows-tree.sh tovik probe recorder 2>/dev/null)/bin

not_tested() {
  echo "shipped exe: not tested ($1)"
  exit 0
}

# The newest of the emulators setup may have installed (bookworm-backports' qemu-i386, else
# bookworm's qemu-i386-static), as "VERSION PATH".
emulator() {
  local candidate
  for candidate in qemu-i386 qemu-i386-static; do
    candidate=$(command -v "$candidate") || continue
    echo "$("$candidate" --version | sed -n '1s/.*version \([0-9]*\)\..*/\1/p') $candidate"
  done | sort -rn | head -1
}

# Runs its arguments where 32-bit ELF programs start: as they are, or in the namespace.
inside=()
slow=1
if [ "$(tools/wine-session.sh arch)" != i686 ]; then
  read -r version qemu <<<"$(emulator)"
  [ -n "$qemu" ] || not_tested "the kernel runs no 32-bit code and qemu-i386 is not installed"
  IFS=. read -r major minor _ <<<"$(uname -r)"
  if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor%%[!0-9]*}" -lt 7 ]; }; then
    not_tested "the kernel runs no 32-bit code, and kernel $(uname -r) is older than 6.7, the first to let a user namespace have a binfmt_misc of its own"
  fi
  unshare --user --map-root-user true 2>/dev/null ||
    not_tested "the kernel runs no 32-bit code and user namespaces are off here"
  # qemu's own magic and mask for i386 ELF executables; F opens the emulator now, so it is found
  # whatever the namespace sees later.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  inside=(unshare --user --map-root-user --mount --propagation private bash -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf "%b" ":tovik-i386:M::$1:$2:$3:F" >/proc/sys/fs/binfmt_misc/register || exit 125
    shift 3
    exec "$@"' bash "$magic" "$mask" "$qemu")
  status=0
  "${inside[@]}" /usr/lib/wine/wine --version >/dev/null 2>&1 || status=$?
  [ "$status" -eq 0 ] || not_tested "the kernel runs no 32-bit code and a user namespace could not hand 32-bit programs to $qemu (status $status)"
  # Wine's 64-bit loader runs everything and hands 32-bit programs to its 32-bit one.
  export TOVIK_WINE_EMULATED=1
  [ "$version" -ge 9 ] || slow=20  # older qemu takes about a minute to start a 32-bit process
fi

export TOVIK_WINE_ROOT=$work/wine TOVIK_BIN TOVIK_E2E_WORK=$work/e2e
export TOVIK_EXE=$work/tovik.exe TOVIK_PLANTED_DLL=$work/planted.dll
export TOVIK_E2E_SLOW=$slow
"${inside[@]}" "$0" --inside "${suites[@]}"
