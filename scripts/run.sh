#!/usr/bin/env bash
# Installs what is missing, builds the velmaro command and its module (release
# preset; the tests are built by the test command) and runs the main job: the
# reference setup commissioned on the virtual drive with the reference motor,
# with its report. Extra arguments go to the command.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target velmaro velmaro_plugin
./build/release/app/velmaro commission -o build/commissioned-setup.json --report build/commissioning-report "$@"
