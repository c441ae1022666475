#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent: a
# package already present is not touched, and apt is not called at all when
# everything is there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

want_native=(cmake g++ clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev clang-format)
want_windows=(g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth imagemagick)

for p in "${want_native[@]}"; do have "$p" || need+=("$p"); done
if [ "${1:-all}" != "native" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need+=(wine32:i386)
  fi
  for p in "${want_windows[@]}"; do have "$p" || need+=("$p"); done
fi

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

# Keep the list unique (wine32:i386 may have been added twice).
mapfile -t need < <(printf '%s\n' "${need[@]}" | sort -u)
echo "install-deps: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
