#!/usr/bin/env bash
# Runs every test of the project, installing what it needs first. Every
# CTest test carries a label, and each step below picks its tests by label:
#   pe       the shipped 32-bit morvantis.dll and the simulated VCAND32.DLL
#            as built, checked statically (exports, ordinals, imports,
#            resources, stdcall clean-up, the import library for
#            MSVC-style linkers);
#   unit     native GoogleTest suite (and the C application, and the native
#            install used by an application's own CMake project) under
#            AddressSanitizer and UBSan; the threading test also under
#            ThreadSanitizer, in a build of its own (label tsan);
#   demo     the demo's unit tests and end-to-end runs;
#   e2e      morvantis-bus end to end with python-can 4.1 (also bus):
#            exchange, bursts, tools, log, hostile clients, bus timing;
#   fuzz     the fuzz targets (settings file, the bus's handling of a
#            client's byte stream) replay their seed corpora;
#   wine     the Windows GoogleTest programs, the C application (also built
#            against the unpacked release ZIP) and the demo under Wine
#            against the simulated VCAND32.DLL, headless; with them the
#            network tests (label network: two Windows applications and
#            python-can on a bus of the native build's morvantis-bus);
#   display  those Windows programs that need a screen, under Xvfb.
# Where this machine can execute 32-bit code, the 32-bit build runs under
# Wine too; the same sources built for 64-bit Windows always run under
# wine64. The release package's tests also carry the label package.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)
# The bus daemon for the network tests under Wine, from the native build.
bus_program=$root/build/native/bus/morvantis-bus

step() { printf '\n=== %s\n' "$*"; }

# Fails when a test of the build directory has none of the labels above.
every_test_labelled() {
    local unlabelled
    unlabelled=$(ctest --test-dir "$1" -N -LE '^(unit|pe|demo|fuzz|wine|display|e2e)$' |
        sed -n 's/^ *Test *#[0-9]*: //p')
    if [ -n "$unlabelled" ]; then
        echo "tests without a label in $1:" "$unlabelled" >&2
        return 1
    fi
}

step "Installing what the tests need"
scripts/install-deps.sh

step "32-bit Windows build (the product) and its release package"
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DMORVANTIS_BUS_PROGRAM="$bus_program" >/dev/null
cmake --build build/win-i686 -j"$jobs" >/dev/null
cmake --build build/win-i686 --target package | grep 'generated'

step "Native build (AddressSanitizer, UBSan)"
cmake -S . -B build/native -DMORVANTIS_SANITIZE=ON -DMORVANTIS_BENCHMARK=OFF \
      -DMORVANTIS_WIN32_DIR="$root/build/win-i686" >/dev/null
cmake --build build/native -j"$jobs" >/dev/null
every_test_labelled build/native

step "Static checks of the 32-bit DLLs (label pe)"
ctest --test-dir build/native -L pe -j"$jobs" --output-on-failure

step "Native unit tests (label unit)"
ctest --test-dir build/native -L unit -j"$jobs" --output-on-failure

step "Demo, native (label demo)"
ctest --test-dir build/native -L demo -j"$jobs" --output-on-failure

step "Threading test under ThreadSanitizer (label tsan)"
# A build of its own: ThreadSanitizer and AddressSanitizer do not mix.
cmake -S . -B build/tsan -DMORVANTIS_TSAN=ON -DMORVANTIS_BENCHMARK=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tsan -j"$jobs" --target thread_tests >/dev/null
ctest --test-dir build/tsan -L tsan --output-on-failure

step "Bus daemon end to end with python-can, optimised build (label e2e)"
cmake -S . -B build/bus -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build build/bus -j"$jobs" --target morvantis-bus >/dev/null
ctest --test-dir build/bus -L e2e --output-on-failure

step "Fuzz targets over their seed corpora (label fuzz)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -DMORVANTIS_FUZZ=ON \
      -DMORVANTIS_BENCHMARK=OFF >/dev/null
cmake --build build/fuzz -j"$jobs" --target settings_fuzz conversation_fuzz >/dev/null
ctest --test-dir build/fuzz -L fuzz --output-on-failure

run_wine_tests() { # build directory, wine prefix
    # Each run keeps one Wine session up around it (scripts/wine-session);
    # on a new prefix the first one makes it. When CTest starts, it lists
    # each program's test cases by running it under Wine.
    scripts/wine-session "$2" "$1" ctest --test-dir "$1" -L wine -LE display --output-on-failure
    every_test_labelled "$1"
    # A wineserver keeps the display it started with: a session of its own.
    xvfb-run -a scripts/wine-session "$2" "$1" ctest --test-dir "$1" -L display --output-on-failure
    # The dialog test leaves a picture of the open dialog behind.
    if [ -f "$1/display_dialog.bmp" ]; then
        convert "$1/display_dialog.bmp" "$1/setup-dialog.png"
        echo "screenshot of the setup dialog: $1/setup-dialog.png"
    fi
}

if scripts/can-run-32bit; then
    step "Wine tests, 32-bit build (labels wine, display)"
    run_wine_tests build/win-i686 "$root/build/wineprefix32"
else
    echo "note: this machine cannot execute 32-bit x86 code; the 32-bit DLL was checked"
    echo "      statically above and its sources run under wine64 as a 64-bit build."
fi

step "Wine tests, 64-bit build (labels wine, display)"
cmake -S . -B build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
      -DMORVANTIS_BUS_PROGRAM="$bus_program" >/dev/null
cmake --build build/win-x86_64 -j"$jobs" >/dev/null
run_wine_tests build/win-x86_64 "$root/build/wineprefix64"

step "All tests passed"
