#!/usr/bin/env bash
# Sets up, builds and runs the configurator's commands against a converter.
#   scripts/run.sh               read the converter's parameters
#   scripts/run.sh ARGS...       run sw40815-cli with ARGS on that converter (e.g. "update IMAGE --verify")
# With a USB serial adapter attached (ttyUSB*, ttyACM*) the first one is used; otherwise the
# simulated converter is started and pinned as COM9 in the program's PORTS folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

program=build/default/program
args=("$@")
[ ${#args[@]} -eq 0 ] && args=(read)

real=$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null | head -n 1 || true)
if [ -n "$real" ]; then
    echo "Using the converter on $real"
    exec "$program/sw40815-cli" --port "$real" "${args[@]}"
fi

mkdir -p "$program/PORTS"
"$program/sw40815-sim" --pace --link "$program/PORTS/COM9" > /tmp/sw40815-sim.$$ &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f /tmp/sw40815-sim.$$' EXIT
for _ in $(seq 100); do [ -L "$program/PORTS/COM9" ] && break; sleep 0.05; done
echo "Simulated converter on $(head -n 1 /tmp/sw40815-sim.$$), pinned as COM9"
"$program/sw40815-cli" ports
"$program/sw40815-cli" --port COM9 "${args[@]}"
