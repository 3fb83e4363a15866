#!/usr/bin/env bash
# Configures and builds one preset (default: linux-debug).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-linux-debug}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
