#!/usr/bin/env bash
# Benchmarks morvantis-bus over loopback (Release build, no sanitizers):
# daemon throughput with the tools (one and eight receivers), round trip
# through an echoing node at 10,000 frames/s, the daemon's memory with 100
# nodes and one stalled reader, and python-can 4.1 through the daemon.
# Ends with a table in the README's form.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DMORVANTIS_SANITIZE=OFF >/dev/null
cmake --build build/bench -j2 --target morvantis-bus morvantis-bus-rtt >/dev/null
/usr/bin/python3 scripts/bench-bus.py "$root/build/bench/bus"
