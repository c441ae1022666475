#!/usr/bin/env bash
# Builds the settings fuzz target with clang-14 and fuzzes it for SECONDS
# (default 60), starting from the seed corpus in tests/fuzz/corpus. What the
# fuzzer finds goes under the build directory, never into the repository:
#   <build>/fuzz-corpus     inputs that reached new code
#   <build>/fuzz-artifacts  inputs that broke a property or crashed
#   scripts/fuzz.sh [SECONDS]         build directory build/fuzz
#   FUZZ_BUILD=build/x scripts/fuzz.sh 300
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DMORVANTIS_FUZZ=ON \
    -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build "$build" -j2 --target settings_fuzz

mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts"
"$build/tests/fuzz/settings_fuzz" -max_total_time="$seconds" -max_len=4096 \
    -dict="$root/tests/fuzz/settings.dict" -artifact_prefix="$build/fuzz-artifacts/" \
    -print_final_stats=1 "$build/fuzz-corpus" "$root/tests/fuzz/corpus/settings"
