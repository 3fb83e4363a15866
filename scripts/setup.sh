#!/usr/bin/env bash
# Installs what building and testing TavSH1 needs on a fresh Debian machine.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev
  qemu-user g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest libbenchmark-dev
  libcli11-dev libfmt-dev libtomlplusplus-dev valgrind
  npm tshark
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${packages[@]}"
