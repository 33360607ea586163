#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing. Safe to run again.
#   scripts/deps.sh          what the Linux build needs
#   scripts/deps.sh win64    that and the Windows build with its tests under Wine
set -euo pipefail
packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-svg-dev libqt6opengl6-dev libgl-dev
    libcurl4-openssl-dev libcli11-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev
    clang libclang-rt-14-dev
)
if [ "${1:-}" = "win64" ]; then
    # MinGW-w64 with posix threads, GoogleTest's source to build for Windows, 64-bit Wine.
    packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
