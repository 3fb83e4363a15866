#!/usr/bin/env bash
# Builds the three targets and runs every test: native x86-64 with AddressSanitizer and
# UndefinedBehaviorSanitizer, 32-bit i686 under qemu-i386, and the Windows DLL's tables.
# Installs the build tools first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in windows-i686 linux-i686 linux-debug; do
  echo "=== ${preset} ==="
  cmake --workflow --preset "${preset}"
done
