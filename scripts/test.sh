#!/usr/bin/env bash
# Runs every test of the project, installing what it needs first:
#   1. the shipped 32-bit morvantis.dll is built and its binary interface
#      checked (exports, ordinals, imports, resources, stdcall clean-up);
#   2. native unit tests under AddressSanitizer and UBSan;
#   3. the fuzz target replays its seed corpus;
#   4. the Windows build runs under Wine against the simulated VCAND32.DLL,
#      headless and then the dialog tests under Xvfb. Where this machine
#      can execute 32-bit code, the 32-bit build runs there too; otherwise
#      the same sources built for 64-bit Windows run under wine64.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

step "Installing what the tests need"
scripts/install-deps.sh

step "32-bit Windows build (the product)"
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/win-i686 -j"$jobs" >/dev/null

step "Native tests (AddressSanitizer, UBSan)"
cmake -S . -B build/native -DMORVANTIS_SANITIZE=ON -DMORVANTIS_BENCHMARK=OFF \
      -DMORVANTIS_WIN32_DIR="$root/build/win-i686" >/dev/null
cmake --build build/native -j"$jobs" >/dev/null
ctest --test-dir build/native -j"$jobs" --output-on-failure

step "Bus daemon, end to end with python-can (optimised build)"
cmake -S . -B build/bus -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build build/bus -j"$jobs" --target morvantis-bus >/dev/null
ctest --test-dir build/bus -L e2e --output-on-failure

step "Fuzz target over the seed corpus"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -DMORVANTIS_FUZZ=ON \
      -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build build/fuzz -j"$jobs" --target settings_fuzz conversation_fuzz >/dev/null
ctest --test-dir build/fuzz -L fuzz --output-on-failure

run_wine_tests() { # build directory, wine prefix
    WINEPREFIX=$2 wineserver -k 2>/dev/null || true
    ctest --test-dir "$1" -LE display --output-on-failure
    WINEPREFIX=$2 wineserver -w
    # A running wineserver keeps the display it started with.
    xvfb-run -a ctest --test-dir "$1" -L display --output-on-failure
    WINEPREFIX=$2 wineserver -w
    # The dialog test leaves a picture of the open dialog behind.
    if [ -f "$1/display_dialog.bmp" ]; then
        convert "$1/display_dialog.bmp" "$1/setup-dialog.png"
        echo "screenshot of the setup dialog: $1/setup-dialog.png"
    fi
}

if scripts/can-run-32bit; then
    step "Wine tests, 32-bit build"
    run_wine_tests build/win-i686 "$root/build/wineprefix32"
else
    echo "note: this machine cannot execute 32-bit x86 code; the 32-bit DLL was checked"
    echo "      statically above and its sources run under wine64 as a 64-bit build."
fi

step "Wine tests, 64-bit build"
cmake -S . -B build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build build/win-x86_64 -j"$jobs" >/dev/null
run_wine_tests build/win-x86_64 "$root/build/wineprefix64"

step "All tests passed"
