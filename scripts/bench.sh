#!/usr/bin/env bash
# Builds and runs the benchmarks (Release, no sanitizers):
#   1. native: each read and send function of libmorvantis.so against the
#      simulated driver operation it calls, made directly, and a
#      send-receive round trip (Google Benchmark);
#   2. Wine: the same exports of morvantis.dll as a Windows application
#      calls them, against the application calling the simulated
#      VCAND32.DLL directly: the shipped 32-bit build where this machine
#      can run 32-bit code, the 64-bit build otherwise;
#   3. network (scripts/bench-network.sh): an application under Wine and
#      natively sending through the driver's network mode and the bus
#      daemon to a native receiver: throughput, latency, CAN_Send_Msg.
#   scripts/bench.sh [BENCHMARK OPTIONS...]   options for the native part,
#                                             e.g. --benchmark_filter=read
# The first two parts end with a table: ns per call for the library and the
# driver, and the library's ratio; the third with one table of all four
# network figures, Wine and native side by side.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
    sudo "$root/scripts/install-deps.sh"
else
    scripts/install-deps.sh
fi

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DMORVANTIS_SANITIZE=OFF -DMORVANTIS_BENCHMARK=ON >/dev/null
cmake --build build/bench -j"$jobs" --target morvantis-bench >/dev/null

if scripts/can-run-32bit; then
    windows_build=build/win-i686
    toolchain=cmake/mingw-i686.cmake
else
    windows_build=build/win-x86_64
    toolchain=cmake/mingw-x86_64.cmake
fi
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" >/dev/null
cmake --build "$windows_build" -j"$jobs" --target morvantis-wine-bench >/dev/null

# In an empty directory, so that the library runs on its default settings.
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir"
printf '\n=== Native: libmorvantis.so\n'
"$root/build/bench/bench/morvantis-bench" --benchmark_enable_random_interleaving=true "$@"
printf '\n=== Wine: %s/morvantis.dll\n' "$windows_build"
"$root/scripts/wine-run" "$root/$windows_build/morvantis-wine-bench.exe" | tr -d '\r'
printf '\n=== Network: application -> library -> driver -> morvantis-bus -> native receiver\n'
"$root/scripts/bench-network.sh"
printf '\n=== The bus daemon: morvantis-bus and its tools\n'
"$root/scripts/bench-bus.sh"
