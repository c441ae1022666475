#!/usr/bin/env bash
# Builds a fuzz target with clang-14 and fuzzes it for SECONDS (default 60),
# starting from its seed corpus. What the fuzzer finds goes under the build
# directory, never into the repository:
#   <build>/fuzz-corpus/TARGET     inputs that reached new code
#   <build>/fuzz-artifacts/TARGET  inputs that broke a property or crashed
# Targets: settings (the settings file, default), bus (the bus daemon's
# handling of a client's byte stream).
#   scripts/fuzz.sh [SECONDS] [TARGET]    build directory build/fuzz
#   FUZZ_BUILD=build/x scripts/fuzz.sh 300 bus
set -euo pipefail
seconds=${1:-60}
target=${2:-settings}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac

case $target in
settings)
    program=tests/fuzz/settings_fuzz
    seeds=$root/tests/fuzz/corpus/settings
    options=(-max_len=4096 -dict="$root/tests/fuzz/settings.dict")
    ;;
bus)
    program=bus/tests/conversation_fuzz
    seeds=$root/bus/tests/corpus
    options=(-max_len=16384 -rss_limit_mb=512)
    ;;
*)
    echo "fuzz.sh: no target \"$target\" (settings, bus)" >&2
    exit 2
    ;;
esac

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DMORVANTIS_FUZZ=ON \
    -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build "$build" -j2 --target "$(basename "$program")"

mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-artifacts/$target"
"$build/$program" -max_total_time="$seconds" "${options[@]}" \
    -artifact_prefix="$build/fuzz-artifacts/$target/" -print_final_stats=1 \
    "$build/fuzz-corpus/$target" "$seeds"
