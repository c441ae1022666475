#!/usr/bin/env bash
# The library's main job, shown end to end:
#   scripts/demo.sh [FRAME...]
# A Windows application on a CAN bus that Linux programs share:
#   1. morvantis-bus serves a bus on a free loopback port, logging every
#      frame;
#   2. a python-can script joins it as a peer node that answers each frame
#      with the identifier plus one;
#   3. the demo application, a Windows program, runs under Wine on
#      morvantis.dll (the shipped 32-bit build; the 64-bit build where this
#      machine cannot run 32-bit code) over the simulated VCAND32.DLL, which
#      joins the bus because MORVANTIS_BUS names it; it sends the frames
#      (cansend notation, such as 123#DEADBEEF or 12345678#11.22.33; without
#      frames a short script) and prints them and the answers;
#   4. the daemon's log of the same frames is printed.
# Then, as a second part, the same application natively on the simulated
# driver's in-process bus, with a peer inside the application.
#
# Nothing is left running afterwards, also when the demo is interrupted.
# The application runs in the current directory, so the library uses the
# settings file MORVANTIS.INI found there, or its defaults.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)
python=/usr/bin/python3

step() { printf '\n=== %s\n' "$*"; }

step "Installing what the builds need"
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
    sudo "$root/scripts/install-deps.sh"
else
    scripts/install-deps.sh
fi

if scripts/can-run-32bit; then
    windows=build/win-i686
    toolchain=cmake/mingw-i686.cmake
    prefix=$root/build/wineprefix32
    what="32-bit build (the product)"
else
    windows=build/win-x86_64
    toolchain=cmake/mingw-x86_64.cmake
    prefix=$root/build/wineprefix64
    what="64-bit build: this machine cannot run 32-bit code"
fi
step "Building: the bus daemon and the native demo; the Windows demo, $what"
cmake -S . -B build/demo-native -DCMAKE_BUILD_TYPE=Release -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build build/demo-native -j"$jobs" --target morvantis-bus morvantis-demo >/dev/null
cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" >/dev/null
cmake --build "$windows" -j"$jobs" --target morvantis-demo >/dev/null

work=$(mktemp -d)
daemon=
peer=
cleanup() {
    [ -n "$peer" ] && kill "$peer" 2>/dev/null && wait "$peer" 2>/dev/null
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "The bus: morvantis-bus on a free loopback port"
build/demo-native/bus/morvantis-bus serve --listen 127.0.0.1:0 --log "$work/bus.log" \
    >"$work/daemon.out" 2>"$work/daemon.err" &
daemon=$!
for _ in $(seq 100); do
    [ -s "$work/daemon.out" ] && break
    sleep 0.05
done
listening=$(head -n 1 "$work/daemon.out")
echo "$listening"
port=${listening##*:}

step "The peer: a python-can script, answering with identifier + 1"
"$python" demo/peer.py --port "$port" >"$work/peer.out" 2>&1 &
peer=$!
for _ in $(seq 100); do
    [ -s "$work/peer.out" ] && break
    sleep 0.05
done
cat "$work/peer.out"

step "The application under Wine: $windows/morvantis-demo.exe, MORVANTIS_BUS=127.0.0.1:$port/vcan0"
frames=("$@")
if [ ${#frames[@]} -eq 0 ]; then
    # python-can neither sends nor takes remote frames, so the script
    # exchanges data frames only.
    frames=(123#DEADBEEF 12345678#11.22.33 000# 18FEF100#0102030405060708)
fi
cd "$here"
status=0
MORVANTIS_BUS=127.0.0.1:$port/vcan0 "$root/scripts/wine-run" \
    "$root/$windows/morvantis-demo.exe" --no-peer "${frames[@]}" | tr -d '\r' || status=$?

step "The daemon's log of the same frames (candump -L)"
sleep 0.2 # the daemon writes its log after each batch
cat "$work/bus.log"

step "Second part: natively, on the simulated driver's in-process bus"
"$root/build/demo-native/demo/morvantis-demo" "${@}" || status=$?
exit "$status"
