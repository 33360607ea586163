#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
#   scripts/test.sh          plain build, then AddressSanitizer+UBSan, then ThreadSanitizer, then
#                            the fuzz targets (clang, libFuzzer), each for a bounded time, then the
#                            Windows build with MinGW-w64 and its tests under Wine
#   scripts/test.sh default  plain build only (likewise: asan, tsan, fuzz, win64)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default asan tsan fuzz win64)
if [[ " ${presets[*]} " == *" win64 "* ]]; then
    bash scripts/deps.sh win64
else
    bash scripts/deps.sh
fi
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "=== ${preset}: tests"
    if [ "$preset" = win64 ]; then
        # The tests share one Wine server, ended at the end, and the simulator's COM ports, so
        # they run one at a time (the preset says so).
        trap 'scripts/wine-run.sh build/win64/wine --stop' EXIT
        ctest --preset win64
    else
        QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs"
    fi
done
