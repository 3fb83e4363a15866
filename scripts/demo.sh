#!/usr/bin/env bash
# Sets up the machine, builds the driver and the host tool, and runs the demo: the driver's
# information, then the driver at work on the simulated H1 network.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux-debug
build/linux-debug/tools/host/tavhost info
echo
build/linux-debug/tools/host/tavhost demo
