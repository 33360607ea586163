#!/usr/bin/env bash
# Takes pictures of the real program's windows under a virtual display (Xvfb), for people to
# look at. The program runs in a copy of the program folder with the simulated converter pinned
# as COM9, /dev/null pinned as COM3 (a port that does not open) and a demonstration image.
#   scripts/screenshots.sh [OUTPUT_DIR]     default: build/screenshots
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if ! command -v xvfb-run >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends xvfb xauth
fi
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target sw40815 sw40815-sim

out=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$out"
work=$(mktemp -d)
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cp -r build/default/program/. "$work/"
rm -rf "$work/PORTS" "$work/MASTER" "$work/Tessaro.xml"
mkdir -p "$work/PORTS" "$work/MASTER"
ln -s /dev/null "$work/PORTS/COM3"
head -c 16384 /dev/urandom > "$work/MASTER/Sim40815.sim"
"$work/sw40815-sim" --pace --link "$work/PORTS/COM9" > "$work/sim.out" &
sim=$!
for _ in $(seq 100); do [ -L "$work/PORTS/COM9" ] && break; sleep 0.05; done

SW40815_SCREENSHOTS="$out" xvfb-run -a -s "-screen 0 1024x768x24" "$work/sw40815"
echo "Pictures in $out"
