#!/usr/bin/env bash
# Builds the benchmark (native, Release at -O2, no sanitizers) and runs it:
# each read and send function of the library against the simulated driver
# operation it calls, made directly, and a send-receive round trip.
#   scripts/bench.sh [BENCHMARK OPTIONS...]   e.g. --benchmark_filter=read
# Ends with a table: ns per call for the library and the driver, the
# library's overhead in ns and as a ratio.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
    sudo "$root/scripts/install-deps.sh" native
else
    scripts/install-deps.sh native
fi

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DMORVANTIS_SANITIZE=OFF -DMORVANTIS_BENCHMARK=ON >/dev/null
cmake --build build/bench -j"$(nproc)" --target morvantis-bench >/dev/null

# In an empty directory, so that the library runs on its default settings.
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir"
"$root/build/bench/bench/morvantis-bench" --benchmark_enable_random_interleaving=true "$@"
# The bus daemon's benchmark.
"$root/scripts/bench-bus.sh"
