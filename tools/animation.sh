#!/usr/bin/env bash
# Makes docs/launch.gif from a real run under a private X server: Tovik with an earlier history,
# a command typed, the drop-down history, Enter, Tovik closing and the shell opening Notepad.
#   tools/animation.sh [OUTPUT.gif]
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-docs/launch.gif}")
tools/setup.sh
tree=$PWD/$(tools/windows-tree.sh tovik probe 2>/dev/null)
work=$tree/animation
rm -rf "$work/tovik" "$work/frames"
mkdir -p "$work/tovik" "$work/frames"
cp "$tree/bin/tovik.exe" "$work/tovik/"
printf '%s\r\n' '[Main]' 'Top=50' 'Left=40' 'DoClose=1' 'DoMinimize=0' 'Count=3' '[MRU]' \
  'MRU0=regedit' 'MRU1=winver' 'MRU2=%windir%\explorer.exe' >"$work/tovik/tovik.ini"

export TOVIK_WINE_ROOT=$work/wine
session=tools/wine-session.sh
"$session" start
trap '"$session" stop' EXIT
"$session" run "$work/tovik/tovik.exe" &
tovik=$!
"$session" run "$tree/bin/probe.exe" wait 30000
eval "$("$session" env)"

# Each frame is a capture of the desktop's corner and how long it is shown, in 1/100 s.
frames=() count=0
frame() {
  local name=$work/frames/$(printf %03d $count).png
  import -window root -crop 480x300+0+0 +repage "$name"
  frames+=(-delay "$1" "$name")
  count=$((count + 1))
}
frame 120
command=notepad
for ((i = 0; i < ${#command}; i++)); do
  xdotool type --delay 0 "${command:i:1}"
  frame 15
done
frame 60
xdotool key alt+Down
sleep 0.5
frame 180
xdotool key alt+Up
sleep 0.3
frame 60
xdotool key Return
wait "$tovik"
frame 50
sleep 1.5
frame 250
convert -loop 0 "${frames[@]}" -colors 32 -layers Optimize "$output"
echo "animation: $output, $(stat -c %s "$output") bytes, $count frames"
