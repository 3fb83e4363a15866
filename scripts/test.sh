#!/usr/bin/env bash
# Installs the build tools, runs every fuzzer briefly, then builds every target and runs every
# test: the Windows DLL's tables and, under Wine, its tests against both calling conventions of the
# H1 library (skipped where this machine cannot run 32-bit programs) and the Windows zip; 32-bit
# i686 under qemu-i386; the end-to-end tests and a short fault soak under Valgrind; native x86-64
# with AddressSanitizer and UndefinedBehaviorSanitizer (the fault soak of 100,000 requests among
# them); the optimised build runs each benchmark once briefly; last, the Linux packages are built,
# unpacked into empty folders and run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# A brief run of every fuzzer from its seed corpus (20 s each); any crash or broken property fails
# the run and leaves the input that caused it in build/fuzz/.
echo "=== fuzz ==="
scripts/fuzz.sh

for preset in windows-i686 linux-i686 linux-valgrind linux-debug linux-release; do
  echo "=== ${preset} ==="
  cmake --workflow --preset "${preset}"
done

echo "=== linux-package ==="
cmake --workflow --preset linux-package
scripts/check_packages.sh
