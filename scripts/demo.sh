#!/usr/bin/env bash
# The library's main job, shown end to end:
#   scripts/demo.sh [FRAME...]
# Installs what the builds need, builds the demo natively, for 64-bit
# Windows and for 32-bit Windows (the product), and runs it natively and
# under Wine against the simulated driver library. Each run brings the
# configured channel onto the bus, sends the frames (cansend notation, such
# as 123#DEADBEEF, 12345678#11.22.33 or 456#R; without frames a short
# scripted exchange), prints them and the peer's answers in candump's form,
# and takes the channel off the bus.
#
# The demo runs in the current directory, so the library uses the settings
# file MORVANTIS.INI found there, or its defaults.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

step "Installing what the builds need"
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
    sudo "$root/scripts/install-deps.sh"
else
    scripts/install-deps.sh
fi

build() { # directory, cmake options...
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" --target morvantis-demo >/dev/null
}

step "Building: native, 64-bit Windows, 32-bit Windows (the product)"
build build/demo-native -DCMAKE_BUILD_TYPE=Release -DMORVANTIS_BENCHMARK=OFF
build build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
build build/win-i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
ls -l build/win-i686/morvantis.dll build/win-i686/morvantis-demo.exe

cd "$here"
step "Native: libmorvantis.so over the simulated libvcand32.so"
"$root/build/demo-native/demo/morvantis-demo" "$@"

step "Wine, 64-bit build: morvantis.dll over the simulated VCAND32.DLL"
"$root/scripts/wine-run" "$root/build/win-x86_64/morvantis-demo.exe" "$@" | tr -d '\r'

if "$root/scripts/can-run-32bit"; then
    step "Wine, 32-bit build (the product)"
    "$root/scripts/wine-run" "$root/build/win-i686/morvantis-demo.exe" "$@" | tr -d '\r'
else
    echo
    echo "note: this machine cannot execute 32-bit x86 code, so the 32-bit product was"
    echo "      built but not run; the 64-bit build above runs the same sources."
fi
