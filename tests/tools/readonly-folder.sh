#!/usr/bin/env bash
# Runs a test with read-only places made by bind mounts (root ignores permission bits):
#   TOVIK_READONLY_FOLDER_FILE  a writable tovik.ini in a read-only folder
#   TOVIK_READONLY_FILE         a read-only tovik.ini in a writable folder
# Where mounts are not allowed the variables stay unset and the tests that need them skip.
#   readonly-folder.sh WORK-FOLDER COMMAND [ARGS...]
set -u
work=$1
shift
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
release() {
  umount "$work/view/tovik.ini" "$work/view" "$work/rofile/tovik.ini" 2>/dev/null
}
release
mkdir -p "$work/base" "$work/view" "$work/rofile"
printf '[Main]\r\nTop=1\r\n' >"$work/base/tovik.ini"
printf '[Main]\r\nTop=1\r\n' >"$work/rofile/tovik.ini"
rm -f "$work/rofile/tovik.ini.tmp"
if mount --bind "$work/base" "$work/view" 2>/dev/null &&
   mount -o remount,bind,ro "$work/view" 2>/dev/null &&
   mount --bind "$work/base/tovik.ini" "$work/view/tovik.ini" 2>/dev/null; then
  export TOVIK_READONLY_FOLDER_FILE=$(winpath "$work/view/tovik.ini")
fi
if mount --bind "$work/rofile/tovik.ini" "$work/rofile/tovik.ini" 2>/dev/null &&
   mount -o remount,bind,ro "$work/rofile/tovik.ini" 2>/dev/null; then
  export TOVIK_READONLY_FILE=$(winpath "$work/rofile/tovik.ini")
fi
"$@"
status=$?
release
exit $status
