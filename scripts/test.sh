#!/usr/bin/env bash
# Installs the build tools, runs every fuzzer briefly, then builds every target and runs every
# test: the Windows tests under 64-bit Wine (windows-x64, on every machine); the Windows DLL's
# tables and, under 32-bit Wine, its tests against both calling conventions of the H1 library
# (skipped where this machine cannot run 32-bit programs) and the Windows zip; 32-bit
# i686 (natively, or under qemu-i386 where the kernel cannot run it); the end-to-end tests and a short fault soak under Valgrind; native x86-64
# with AddressSanitizer and UndefinedBehaviorSanitizer (the fault soak of 100,000 requests among
# them); the optimised build runs each benchmark once briefly; last, the Linux packages are built,
# unpacked into empty folders and run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Each stage says how long it took, for README's table of CI times.
stage() {
  local started=${SECONDS}
  echo "=== $1 ==="
  shift
  "$@"
  echo "=== $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s ==="
}

# A brief run of every fuzzer from its seed corpus (20 s each); any crash or broken property fails
# the run and leaves the input that caused it in build/fuzz/.
stage fuzz scripts/fuzz.sh

# The Windows tests under 64-bit Wine, as on a machine that cannot run 32-bit programs (the switch
# makes the runner's probe answer so): every one must run, none may be skipped.
windows_x64() {
  local log=build/windows-x64-ci.log
  mkdir -p build
  TAV_ASSUME_NO_32BIT=1 cmake --workflow --preset windows-x64 2>&1 | tee "${log}"
  if grep -q "The following tests did not run" "${log}"; then
    echo "windows-x64: a Windows test was skipped" >&2
    return 1
  fi
}
stage windows-x64 windows_x64

for preset in windows-i686 linux-i686 linux-valgrind linux-debug linux-release; do
  stage "${preset}" cmake --workflow --preset "${preset}"
done

stage linux-package sh -c 'cmake --workflow --preset linux-package && scripts/check_packages.sh'

