#!/usr/bin/env bash
# Runs a Windows program of the win64 build under Wine, in a Wine prefix of the build's own:
#   scripts/wine-run.sh WINE_DIR PROGRAM [ARGUMENTS...]
#   scripts/wine-run.sh WINE_DIR --preload LIBRARY PROGRAM [ARGUMENTS...]
#                                            the same with LIBRARY preloaded into Wine
#   scripts/wine-run.sh WINE_DIR --stop      ends the prefix's Wine server
# WINE_DIR holds the prefix, the Wine server's log and the folder ports/: the prefix presents
# ports/COM5 to ports/COM9 as the COM ports of the same names, so a link made there to a
# pseudo-terminal (the simulated converter's) is a COM port for the Windows programs.
set -euo pipefail

mkdir -p "$1"
dir=$(cd "$1" && pwd)
shift
export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer at prefix creation: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
sim_ports=(COM5 COM6 COM7 COM8 COM9)

if [ "${1:-}" = "--stop" ]; then
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
    exit 0
fi

# One persistent server for all programs of a test run. It becomes the session leader of its own
# and so takes the first terminal it opens (a port) as its controlling terminal, and it writes a
# lot when that terminal hangs up: its output goes to the log. Exit status 0: a new server.
start_server() {
    setsid wineserver -p </dev/null >>"$dir/wineserver.log" 2>&1 9>&-
}

# The first program on a new server starts Wine's own services, which keep every descriptor they
# inherit open as long as the server lives (a test runner's pipes would never close): that
# program runs with all of them on /dev/null.
warm_up() {
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&-
}

prepare_prefix() {
    mkdir -p "$WINEPREFIX" "$dir/ports"
    start_server || true
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
    for port in "${sim_ports[@]}"; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$dir/ports/$port" /f \
            </dev/null >/dev/null 2>&1 9>&-
    done
    # The ports take effect when Wine's services start again.
    wineserver -k 9>&- || true
    wineserver -w 9>&- || true
    touch "$dir/prepared"
}

(
    flock 9
    [ -f "$dir/prepared" ] && [ -f "$WINEPREFIX/system.reg" ] || prepare_prefix
    if start_server; then warm_up; fi
) 9>"$dir/lock"

if [ "${1:-}" = "--preload" ]; then
    export LD_PRELOAD="$2"
    shift 2
fi
exec wine "$@"
