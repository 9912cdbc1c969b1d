#!/usr/bin/env bash
# Installs, only where missing, every Debian package the build, the tests and the run command need;
# with --release, only what the release zip needs (the cross compiler, CMake and Ninja, GoogleTest's
# sources for the configure step, Python for the archive).
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine
  xvfb xdotool x11-utils imagemagick
  clang libclang-rt-dev zip python3 python3-xlib
)
release=false
if [ "${1:-}" = --release ]; then
  release=true
  packages=(cmake ninja-build googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Where the kernel runs no 32-bit code, the shipped 32-bit exe runs under qemu's user-mode
# emulator. Bookworm's qemu 7.2 takes about a minute to start each 32-bit Wine process (it scans
# the whole address space for every trial mapping Wine makes); the one in bookworm-backports takes
# about half a second, so it is preferred, and bookworm's own is the fallback.
qemu_wanted() {
  [ "$("$(dirname "$0")/wine-session.sh" arch)" = i686 ] && return 1
  local version
  version=$({ qemu-i386 --version || qemu-i386-static --version; } 2>/dev/null |
    sed -n '1s/.*version \([0-9]*\)\..*/\1/p')
  [ "${version:-0}" -lt 9 ] || return 1
  # Tried before: the backports were not to be had, and bookworm's own qemu is in place.
  [ -n "$version" ] && [ -f /etc/apt/sources.list.d/tovik-backports.list ] && return 1
  return 0
}

# The archive this machine already takes bookworm from, as a one-line source for its backports
# (with the same signing options): a machine behind a mirror or proxy of its own keeps using it.
# Read from the one-line sources and the deb822 `.sources` files; empty when there is none.
backports_source() {
  {
    # A machine may have no one-line sources at all: cat then fails, which is no error here.
    { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
      sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+bookworm[[:space:]].*/deb \1\2 bookworm-backports main/p'
    { cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } | awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && suites ~ /(^| )bookworm( |$)/ && uri != "")
          print "deb " (key != "" ? "[signed-by=" key "] " : "") uri " bookworm-backports main"
        types = suites = uri = key = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      $1 == "Types:" { types = $0 }
      $1 == "Suites:" { suites = $0 }
      $1 == "URIs:" { uri = $2 }
      $1 == "Signed-By:" { key = $2 }
      END { flush() }'
  } | head -1
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: installing $* needs root" >&2
    exit 1
  fi
}
export DEBIAN_FRONTEND=noninteractive

# An index apt-get update could not fetch (a mirror caught in mid-sync, a source out of reach) need
# not hold up an install: apt goes on with the indexes it has, which usually carry every package.
# What failed is kept, for the install after it to name where it fails.
apt_update() {
  local out status=0
  out=$(mktemp)
  # In English, for its lines to be read: each index that failed has "Err:N INDEX", then why.
  LC_ALL=C apt-get update -q 2>&1 | tee "$out" || status=$?
  reached=false
  grep -qE '^(Hit|Get):' "$out" && reached=true
  mapfile -t unfetched < <(awk '
    /^Err:[0-9]+ / { sub(/^Err:[0-9]+ /, ""); failed = $0
      if ((getline why) > 0) { sub(/^ +/, "", why); failed = failed " (" why ")" }
      print failed }' "$out")
  rm -f "$out"
  if [ "$status" -ne 0 ]; then
    echo "setup: apt-get update ended with status $status; going on with the indexes it has" >&2
  fi
}

# apt-get install; where it fails after indexes could not be fetched, says which and what to do.
apt_install() {
  local status=0 index
  apt-get install -y -q --no-install-recommends "$@" || status=$?
  if [ "$status" -ne 0 ] && [ ${#unfetched[@]} -gt 0 ]; then
    for index in "${unfetched[@]}"; do
      echo "setup: apt-get update could not fetch $index" >&2
    done
    if ! $reached; then
      echo "setup: the install failed, and apt-get update reached no source at all. Check this" \
        "machine's network (and any proxy or mirror named in /etc/apt/), then run this again." >&2
    else
      if [ ${#unfetched[@]} -eq 1 ]; then set -- it "that source"; else set -- them "those sources"; fi
      echo "setup: the install failed, perhaps for want of $1. Once the archive has finished" \
        "syncing (or can be reached again), run this again, or comment $2 out in" \
        "/etc/apt/sources.list or /etc/apt/sources.list.d/." >&2
    fi
  fi
  return "$status"
}

if [ ${#missing[@]} -gt 0 ]; then
  need_root "${missing[*]}"
  $release || dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt_update
  apt_install "${missing[@]}"
fi

if ! $release && qemu_wanted; then
  need_root "qemu's user-mode emulator"
  # Without the recommended qemu-user-binfmt nothing outside the tests' own namespace changes.
  if [ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" != bookworm ]; then
    # Later releases carry a qemu recent enough in their own archive.
    apt_update
    apt_install qemu-user
  else
    backports=/etc/apt/sources.list.d/tovik-backports.list
    if ! apt-cache policy 2>/dev/null | grep -q bookworm-backports; then
      backports_source >"$backports"
    fi
    apt_update
    if ! apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user; then
      echo "setup: bookworm-backports is out of reach; using bookworm's slower qemu" >&2
      apt_install qemu-user-static
    fi
  fi
fi
