#!/usr/bin/env bash
# Sets up what is missing, builds Tovik and runs it under Wine, passing its arguments on.
# On a desktop it opens on your display. Without one it starts a private X server, saves a
# screenshot of the window and keeps Tovik running until Ctrl+C, which ends it as Cancel does.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
tools/setup.sh
tree=$source_dir/$(tools/windows-tree.sh tovik probe 2>/dev/null)

# Tovik keeps its settings beside itself, so it runs from a folder of its own.
run_dir=$tree/run/tovik
mkdir -p "$run_dir"
cp "$tree/bin/tovik.exe" "$run_dir/tovik.exe"
export TOVIK_WINE_ROOT=$tree/run/wine
[ -n "${WINEPREFIX:-}" ] && export WINEPREFIX_OVERRIDE=$WINEPREFIX
session=$source_dir/tools/wine-session.sh
probe=$tree/bin/probe.exe

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  TOVIK_USE_DISPLAY=1 "$session" prepare
  exec env TOVIK_USE_DISPLAY=1 "$session" run "$run_dir/tovik.exe" "$@"
fi

# The X server, the Wine session and Tovik run in a session of their own: a terminal's Ctrl+C
# goes to its whole foreground process group and would kill them before Tovik could save.
setsid "$session" start
setsid "$session" run "$run_dir/tovik.exe" "$@" &
tovik=$!

# Ends Tovik as its Cancel button does, settings saved, and only then the session. Set before
# anything is printed, so a Ctrl+C at any moment from here on saves.
end_as_cancel() {
  "$session" run "$probe" post 0x111 0 =Cancel >/dev/null 2>&1 || kill "$tovik" 2>/dev/null
  status=0
  wait "$tovik" || status=$?
  "$session" stop
  exit "$status"
}
trap end_as_cancel INT TERM
if ! "$session" run "$probe" wait 30000; then
  echo "run: the Tovik window did not appear" >&2
  "$session" stop
  exit 1
fi
eval "$("$session" env)"
shot=$run_dir/tovik-window.png
read -r left top right bottom < <("$session" run "$probe" tree |
  python3 -c 'import json,sys; print(*json.load(sys.stdin)["outer"])')
import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$shot"
echo "Tovik is running on the private display $DISPLAY (no display was available)."
echo "Screenshot of its window: $shot"
echo "Press Ctrl+C to end it; it saves its settings as Cancel does."

status=0
wait "$tovik" || status=$?
"$session" stop
exit "$status"
