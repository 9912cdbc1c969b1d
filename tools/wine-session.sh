#!/usr/bin/env bash
# A private Wine session: its own prefix under the build tree, its own Xvfb display.
#   wine-session.sh start | stop | prepare | run PROGRAM [ARGS...] | env | arch
# TOVIK_WINE_ROOT names the folder that holds the prefix and the session's files.
# TOVIK_USE_DISPLAY=1 uses the caller's DISPLAY instead of a private one, without a virtual desktop.
# `arch` prints the Windows architecture this machine runs: i686, or x86_64 where the kernel runs
# no 32-bit code and only Wine's 64-bit loader works; the builds and tests follow it.
# TOVIK_WINE_EMULATED=1 says the caller runs in a namespace where qemu runs 32-bit programs: the
# 64-bit loader still runs everything (handing 32-bit programs to the 32-bit one), and the prefix
# made there gets its 32-bit half.
set -u
if [ "${TOVIK_WINE_EMULATED:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=i686 loader=wine
else
  arch=x86_64 loader=/usr/lib/wine/wine64
  export WINELOADER=$loader
fi
if [ "${1:-}" = arch ]; then
  echo "$arch"
  exit 0
fi
root=${TOVIK_WINE_ROOT:?TOVIK_WINE_ROOT must name the test run folder}
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$root/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
display_file=$root/wine-display
xvfb_pid_file=$root/xvfb.pid

load_display() {
  [ "${TOVIK_USE_DISPLAY:-0}" = 1 ] && return 0
  [ -f "$display_file" ] && export DISPLAY=":$(cat "$display_file")"
  return 0
}

start_xvfb() {
  local n
  for n in $(seq 91 160); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if [ -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n" >"$display_file"
      echo "$pid" >"$xvfb_pid_file"
      export DISPLAY=":$n"
      return 0
    fi
    kill "$pid" 2>/dev/null
  done
  echo "wine-session: no free X display" >&2
  return 1
}

# A virtual desktop gives every window a frame and title bar, as on Windows. Its values count
# only from the next wineserver, so the server that wineboot started is ended.
make_prefix() {
  [ -f "$WINEPREFIX/.tovik-ready" ] && return 0
  # A prefix of the user's own is used as it is, only created if it does not exist yet.
  if [ -n "${WINEPREFIX_OVERRIDE:-}" ]; then
    [ -f "$WINEPREFIX/system.reg" ] || "$loader" wineboot -i >/dev/null 2>&1
    return 0
  fi
  mkdir -p "$WINEPREFIX"
  # The 64-bit loader alone cannot finish the 32-bit half of the prefix outside the emulator's
  # namespace; the 64-bit programs need nothing of it.
  "$loader" wineboot -i >/dev/null 2>&1
  wineserver -w 2>/dev/null  # the registry reaches its files when the server ends
  if ! [ -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: wineboot could not make the prefix $WINEPREFIX" >&2
    return 1
  fi
  if [ "${TOVIK_USE_DISPLAY:-0}" != 1 ]; then
    "$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  fi
  # Wine draws the caption buttons with Marlett, which it finds only in the prefix's font folder.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  touch "$WINEPREFIX/.tovik-ready"
}

case "${1:-}" in
  start)
    mkdir -p "$root"
    "$0" stop >/dev/null 2>&1
    start_xvfb || exit 1
    make_prefix || exit 1
    # Daemons keep no handle on the caller's output, or ctest would wait for them forever.
    wineserver -p </dev/null >/dev/null 2>&1
    # The first program of a server starts the desktop; do it now, not inside a timed test.
    "$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1
    ;;
  prepare)
    mkdir -p "$root"
    make_prefix </dev/null >/dev/null 2>&1
    ;;
  stop)
    load_display
    wineserver -k 2>/dev/null
    if [ -f "$xvfb_pid_file" ]; then
      kill "$(cat "$xvfb_pid_file")" 2>/dev/null
      rm -f "$xvfb_pid_file"
    fi
    rm -f "$display_file"
    ;;
  run)
    shift
    load_display
    exec "$loader" "$@"
    ;;
  env)
    load_display
    echo "export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' DISPLAY='${DISPLAY:-}'${WINELOADER:+ WINELOADER='$WINELOADER'}"
    ;;
  *)
    echo "usage: wine-session.sh start|stop|prepare|run PROGRAM [ARGS...]|env|arch" >&2
    exit 2
    ;;
esac
