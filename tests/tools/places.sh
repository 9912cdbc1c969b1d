#!/usr/bin/env bash
# Runs a test with settings files in places that only the host can make (root ignores permission
# bits, so read-only ones are bind mounts); where mounts are not allowed the variables stay unset
# and the tests that need them skip:
#   TOVIK_READONLY_FOLDER_FILE  a writable tovik.ini in a read-only folder
#   TOVIK_READONLY_FILE         a read-only tovik.ini in a writable folder
#   TOVIK_LINKED_FILE           a tovik.ini that is a symbolic link to TOVIK_LINK_TARGET
#   TOVIK_FULL_DISK_FILE        a tovik.ini on a full disk
#   TOVIK_FULL_DISK_NO_NEW_FILE a tovik.ini on a full disk that takes no new file either
#   places.sh WORK-FOLDER COMMAND [ARGS...]
set -u
work=$1
shift
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
release() {
  umount "$work/view/tovik.ini" "$work/view" "$work/rofile/tovik.ini" "$work/full" \
    "$work/full-nofile" 2>/dev/null
}
release
rm -rf "$work/link" "$work/rofile/tovik.ini.tmp"
mkdir -p "$work/base" "$work/view" "$work/rofile" "$work/link/sync" "$work/full" "$work/full-nofile"
for file in base/tovik.ini rofile/tovik.ini link/sync/real.ini; do
  printf '[Main]\r\nTop=1\r\n' >"$work/$file"
done
ln -s sync/real.ini "$work/link/tovik.ini"
export TOVIK_LINKED_FILE=$(winpath "$work/link/tovik.ini")
export TOVIK_LINK_TARGET=$(winpath "$work/link/sync/real.ini")
if mount --bind "$work/base" "$work/view" 2>/dev/null &&
   mount -o remount,bind,ro "$work/view" 2>/dev/null &&
   mount --bind "$work/base/tovik.ini" "$work/view/tovik.ini" 2>/dev/null; then
  export TOVIK_READONLY_FOLDER_FILE=$(winpath "$work/view/tovik.ini")
fi
if mount --bind "$work/rofile/tovik.ini" "$work/rofile/tovik.ini" 2>/dev/null &&
   mount -o remount,bind,ro "$work/rofile/tovik.ini" 2>/dev/null; then
  export TOVIK_READONLY_FILE=$(winpath "$work/rofile/tovik.ini")
fi
# A small memory file system filled up: its pages all taken, and with `inodes` 3 its files too
# (the root, tovik.ini and the filler).
full_disk() {
  local folder=$work/$1
  mount -t tmpfs -o "size=64k,nr_inodes=$2" tmpfs "$folder" 2>/dev/null || return 1
  printf '[Main]\r\nTop=1\r\n' >"$folder/tovik.ini"
  cat /dev/zero >"$folder/filler" 2>/dev/null
  true
}
full_disk full 16 && export TOVIK_FULL_DISK_FILE=$(winpath "$work/full/tovik.ini")
full_disk full-nofile 3 && export TOVIK_FULL_DISK_NO_NEW_FILE=$(winpath "$work/full-nofile/tovik.ini")
"$@"
status=$?
release
exit $status
