#!/usr/bin/env bash
# Sets up, builds and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
echo "Built into build/default/program"
