#!/usr/bin/env bash
# Sets up, builds and starts the configurator.
#   scripts/run.sh               the configurator's window
#   scripts/run.sh ARGS...       sw40815-cli with ARGS instead (e.g. "read", "update IMAGE --verify")
# With a USB serial adapter attached (ttyUSB*, ttyACM*) the converter is expected there.
# Otherwise the simulated converter is started and pinned as COM9 in the program's PORTS folder,
# and a demonstration image is placed in MASTER when there is none, so every button can be tried.
# Without a display the window cannot open: the command-line tool then reads the converter.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

program=build/default/program
args=("$@")
window=0
if [ ${#args[@]} -eq 0 ]; then
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        window=1
    else
        echo "The configurator's window needs a display (DISPLAY or WAYLAND_DISPLAY is not set);"
        echo "reading the converter with the command-line tool instead."
        args=(read)
    fi
fi

real=$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null | head -n 1 || true)
if [ -n "$real" ]; then
    echo "Using the converter on $real"
    [ $window -eq 1 ] && exec "$program/sw40815"
    exec "$program/sw40815-cli" --port "$real" "${args[@]}"
fi

mkdir -p "$program/PORTS"
"$program/sw40815-sim" --pace --link "$program/PORTS/COM9" > /tmp/sw40815-sim.$$ &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f /tmp/sw40815-sim.$$' EXIT
for _ in $(seq 100); do [ -L "$program/PORTS/COM9" ] && break; sleep 0.05; done
echo "Simulated converter on $(head -n 1 /tmp/sw40815-sim.$$), pinned as COM9"
if [ $window -eq 1 ]; then
    if [ ! -e "$program/MASTER/Sim40815.sim" ]; then
        mkdir -p "$program/MASTER"
        head -c 16384 /dev/urandom > "$program/MASTER/Sim40815.sim"
        echo "Placed a demonstration firmware image in $program/MASTER/Sim40815.sim"
    fi
    "$program/sw40815"
    exit
fi
"$program/sw40815-cli" ports
"$program/sw40815-cli" --port COM9 "${args[@]}"
