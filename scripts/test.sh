#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
#   scripts/test.sh          plain build, then AddressSanitizer+UBSan, then ThreadSanitizer, then
#                            the fuzz targets (clang, libFuzzer), each for a bounded time
#   scripts/test.sh default  plain build only (likewise: asan, tsan, fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default asan tsan fuzz)

jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "=== ${preset}: tests"
    QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs"
done
