#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent: what
# is present is not touched, and apt is not called when all is there.
#   scripts/install-deps.sh          everything
#   scripts/install-deps.sh native   only what the native build and tests need
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

wanted=(cmake make g++ clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev
        libbenchmark-dev clang-format file python3 libasio-dev libcli11-dev python3-can)
if [ "${1:-all}" != native ]; then
    # googletest: the sources, built with mingw-w64 for the Windows test programs.
    wanted+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 googletest
             llvm-14 wine wine64 xvfb xauth imagemagick)
    # 32-bit Wine only where 32-bit code can run at all.
    if "$here/can-run-32bit"; then
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        wanted+=(wine32:i386)
    fi
fi

missing=()
for package in "${wanted[@]}"; do
    have "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
