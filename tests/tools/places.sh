#!/usr/bin/env bash
# Runs a test with a settings file that only the host can make under Wine, which makes no
# symbolic link itself: TOVIK_LINKED_FILE, a tovik.ini that is a symbolic link to
# TOVIK_LINK_TARGET, in a folder of its own.
#   places.sh WORK-FOLDER COMMAND [ARGS...]
set -u
work=$1
shift
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
rm -rf "$work/link"
mkdir -p "$work/link/sync"
printf '[Main]\r\nTop=1\r\n' >"$work/link/sync/real.ini"
ln -s sync/real.ini "$work/link/tovik.ini"
export TOVIK_LINKED_FILE=$(winpath "$work/link/tovik.ini")
export TOVIK_LINK_TARGET=$(winpath "$work/link/sync/real.ini")
exec "$@"
