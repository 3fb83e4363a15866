#!/usr/bin/env bash
# Installs the build tools, runs the address fuzzer briefly, then builds the three targets and
# runs every test: the Windows DLL's tables and, under Wine, its tests against both calling
# conventions of the H1 library (skipped where this machine cannot run 32-bit programs) and the
# Windows zip; 32-bit i686 under qemu-i386; native x86-64 with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# A brief run of the address fuzzer from its seed corpus; any crash fails the run and leaves the
# input that caused it in build/fuzz/.
echo "=== fuzz ==="
cmake --preset fuzz
cmake --build --preset fuzz
corpus="$(mktemp -d)"
trap 'rm -rf "${corpus}"' EXIT
build/fuzz/fuzz/address_fuzzer -max_total_time=30 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/ "${corpus}" fuzz/corpus/address

for preset in windows-i686 linux-i686 linux-debug; do
  echo "=== ${preset} ==="
  cmake --workflow --preset "${preset}"
done
