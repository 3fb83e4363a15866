#!/bin/sh
# Runs a Windows program of the build under Wine: the CMAKE_CROSSCOMPILING_EMULATOR of the
# windows-i686 and windows-x64 presets, so CTest puts it before every Windows test program.
#
#   run_under_wine.sh --prefix WINEPREFIX --probe PROBE PROGRAM.exe [ARGUMENT...]    (32-bit)
#   run_under_wine.sh --prefix WINEPREFIX --win64 PROGRAM.exe [ARGUMENT...]          (64-bit)
#   run_under_wine.sh ... --check
#
# 32-bit: PROBE is a static 32-bit x86 program that only exits. Where the kernel cannot execute
# it, it cannot execute Wine's 32-bit loader either: the program is not run, and the line
# "skipped: this machine cannot run 32-bit programs" (which the tests take as a skip) is printed
# with exit status 77; so is "skipped: 32-bit Wine could not be installed: ..." where
# scripts/setup.sh could not install it. TAV_ASSUME_NO_32BIT=1 in the environment makes the probe answer so on any
# machine, which shows what a machine without 32-bit execution does.
#
# 64-bit: Wine's 64-bit loader needs nothing 32-bit, so it runs everywhere and no probe is asked.
# Debian's wine command takes the 32-bit loader whenever 32-bit Wine is installed, so the 64-bit
# loader is called by its own path, with a 64-bit prefix of its own.
#
# Anywhere Wine must run, it must be installed. The prefix is made on first use, under a lock, as
# CTest runs tests side by side. --check does all of that and runs nothing.
set -eu

prefix=""
probe=""
win64=false
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --probe) probe="$2"; shift 2 ;;
    --win64) win64=true; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || { [ -z "$probe" ] && ! $win64; } || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix WINEPREFIX (--probe PROBE | --win64) (PROGRAM.exe [ARGUMENT...] | --check)" >&2
  exit 2
fi

if $win64; then
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64
  if [ ! -x "$loader" ]; then
    echo "$loader: 64-bit Wine is not installed: scripts/setup.sh installs it (wine64)" >&2
    exit 1
  fi
else
  if [ ! -x "$probe" ]; then
    echo "$probe: no such program; build the windows-i686 preset first" >&2
    exit 1
  fi
  if [ "${TAV_ASSUME_NO_32BIT:-0}" = 1 ] || ! "$probe" >/dev/null 2>&1; then
    echo "skipped: this machine cannot run 32-bit programs"
    exit 77
  fi
  loader=/usr/lib/wine/wine
  export WINEARCH=win32
  # scripts/setup.sh leaves this file where apt-get could not install 32-bit Wine.
  missing="$(dirname "$0")/../../build/wine32-missing.txt"
  if [ ! -x "$loader" ] && [ -f "$missing" ]; then
    echo "skipped: $(cat "$missing")"
    exit 77
  fi
  if [ ! -x "$loader" ]; then
    echo "$loader: 32-bit Wine is not installed: scripts/setup.sh installs it (wine32:i386)" >&2
    exit 1
  fi
fi
# The loader finds the rest of Wine (its DLLs, wineserver) through this; wineserver is called by its
# path, since /usr/bin/wineserver comes only with the 32-bit wine package.
export WINELOADER="$loader"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs when the prefix is made, and no window anywhere; a test's own
# overrides (wpcap= for a machine without Npcap) come after.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  flock "$prefix/.made" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { "$WINELOADER" wineboot --init >/dev/null 2>&1; /usr/lib/wine/wineserver --wait; }'
fi

if [ "$1" = "--check" ]; then
  exit 0
fi
exec "$loader" "$@"
