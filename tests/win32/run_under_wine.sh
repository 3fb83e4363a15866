#!/bin/sh
# Runs a Windows program of the build under Wine: the CMAKE_CROSSCOMPILING_EMULATOR of the
# windows-i686 preset, so CTest puts it before every Windows test program.
#
#   run_under_wine.sh --prefix WINEPREFIX --probe PROBE PROGRAM.exe [ARGUMENT...]
#   run_under_wine.sh --prefix WINEPREFIX --probe PROBE --check
#
# PROBE is a static 32-bit x86 program that only exits. Where the kernel cannot execute it, it
# cannot execute Wine's 32-bit loader either: the program is not run, and the line
# "skipped: this machine cannot run 32-bit programs" (which the tests take as a skip) is printed
# with exit status 77. Anywhere else Wine must be installed. The prefix is made on first use, under
# a lock, as CTest runs tests side by side. --check does all of that and runs nothing.
set -eu

prefix=""
probe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --probe) probe="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ -z "$probe" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix WINEPREFIX --probe PROBE (PROGRAM.exe [ARGUMENT...] | --check)" >&2
  exit 2
fi
if [ ! -x "$probe" ]; then
  echo "$probe: no such program; build the windows-i686 preset first" >&2
  exit 1
fi
if ! "$probe" >/dev/null 2>&1; then
  echo "skipped: this machine cannot run 32-bit programs"
  exit 77
fi
if ! command -v wine >/dev/null 2>&1; then
  echo "wine is not installed: scripts/setup.sh installs it" >&2
  exit 1
fi

export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs when the prefix is made, and no window anywhere.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  flock "$prefix/.made" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver --wait; }'
fi

if [ "$1" = "--check" ]; then
  exit 0
fi
exec wine "$@"
