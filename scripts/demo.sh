#!/usr/bin/env bash
# Sets up the machine, builds the driver and the host tool, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux-debug
build/linux-debug/tools/host/tavhost info
