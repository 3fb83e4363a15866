#!/usr/bin/env bash
# Sets up what the demo needs, builds the driver, the simulated network and the host tool (the
# demo preset: no tests, no benchmarks) and runs the demo: the driver's information, then the
# driver at work on the simulated H1 network. scripts/test.sh builds and tests everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --demo
scripts/build.sh demo
build/demo/tools/host/tavhost info
echo
build/demo/tools/host/tavhost demo
