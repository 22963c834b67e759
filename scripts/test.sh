#!/usr/bin/env bash
# Installs what is missing, builds a preset (default: debug) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-debug}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
