#!/usr/bin/env bash
# Installs what building and testing TavSH1 needs on a fresh Debian machine; with --demo only
# what the demo preset builds (the driver, the simulated network, tavhost), in a fraction of the
# time: no cross compilers, Wine, emulators or test tools.
set -euo pipefail
demo_only=0
if [ "${1:-}" = --demo ]; then demo_only=1; fi

# GoogleTest twice: its sources (googletest), which the cross builds compile with their own
# compiler, and the build machine's library (libgtest-dev) for the programs of the Windows tests
# that run beside Wine. wine64 runs the windows-x64 tests on every machine. lintian judges the
# .deb. iproute2 makes the network namespaces and veth pairs of libh1eth's tests, tshark judges
# their frames. tavhost bridge links libmosquitto; its tests run Debian's mosquitto broker,
# subscribe with its clients and make their TLS certificates with openssl. systemd brings
# systemd-analyze, which checks the .deb's units (it needs no running systemd).
packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev
  qemu-user g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev libfmt-dev libtomlplusplus-dev nlohmann-json3-dev valgrind
  tshark iproute2 lintian bash-completion systemd
  libmosquitto-dev mosquitto mosquitto-clients openssl libprotobuf-dev protobuf-compiler
)
demo_packages=(
  cmake ninja-build g++ pkg-config
  libcli11-dev libfmt-dev libtomlplusplus-dev nlohmann-json3-dev libmosquitto-dev
  libprotobuf-dev protobuf-compiler
)
# npm fetches Snap7's sources for the libh1tcp tests. Where Node.js came from elsewhere it brings
# its own npm, and Debian's npm package conflicts with it.
if ! command -v npm >/dev/null; then packages+=(npm); fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# installed PACKAGE...: whether every package is installed already (then apt-get is not run).
installed() {
  local status
  status=$(dpkg-query -W -f='${db:Status-Abbrev}\n' "$@" 2>/dev/null) || return 1
  ! grep -qv '^ii' <<<"${status}"
}
# A mirror that is being synchronised answers with index files of the wrong size for a while;
# apt-get update is tried again after a pause, and then the install goes on with the indexes that
# did arrive (it fails by itself if what it needs is not among them).
update() {
  local attempt
  for attempt in 1 2 3; do
    if $sudo apt-get update; then return 0; fi
    echo "setup: apt-get update failed (attempt ${attempt}); trying again in $((attempt * 15)) s" >&2
    sleep $((attempt * 15))
  done
  $sudo apt-get update || echo "setup: apt-get update failed; going on with the indexes there are" >&2
}
# install PACKAGE...: apt-get update and install, unless all of them are installed.
install() {
  if installed "$@"; then return 0; fi
  update
  # A fresh machine keeps nothing if the install is cut short, so dpkg need not sync every file.
  $sudo apt-get install -y --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "$@"
}

if [ "${demo_only}" -eq 1 ]; then
  install "${demo_packages[@]}"
  exit 0
fi
install "${packages[@]}"

# 32-bit Wine runs the windows-i686 tests. Its loader needs a kernel that executes 32-bit x86
# programs; where a static 32-bit program does not run, those tests report a skip (windows-x64
# runs the same tests under 64-bit Wine), and 32-bit Wine is not installed: its i386 packages
# (some 170, after dpkg --add-architecture i386) could never run there, and apt would first bring
# every shared library the machine has to the version of its i386 twin.
wine32_missing="$(dirname "$0")/../build/wine32-missing.txt"
mkdir -p "$(dirname "${wine32_missing}")"
probe="$(mktemp)"
trap 'rm -f "${probe}"' EXIT
gcc -m32 -static -nostdlib -fno-pie -no-pie -ffreestanding -o "${probe}" \
  "$(dirname "$0")/../tests/win32/build_machine/probe_i386.c"
# TAV_ASSUME_NO_32BIT=1 makes the probe answer "cannot" here as in the Wine runner.
if [ "${TAV_ASSUME_NO_32BIT:-0}" != 1 ] && "${probe}" 2>/dev/null; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # Without the i386 indexes of the security archive (a mirror in mid-synchronisation) the i386
  # twins of updated libraries cannot be installed. The windows-i686 tests then report a skip
  # with this file's line as the reason, and windows-x64 runs them under 64-bit Wine.
  rm -f "${wine32_missing}"
  if ! install wine wine32:i386; then
    echo "32-bit Wine could not be installed: apt-get failed on $(date -u +%F)" >"${wine32_missing}"
    echo "setup: $(cat "${wine32_missing}"); the windows-i686 tests will report a skip" >&2
  fi
else
  echo "setup: this machine cannot run 32-bit programs, so 32-bit Wine is not installed;" \
       "the windows-i686 tests will report a skip, and windows-x64 runs them under 64-bit Wine"
fi
