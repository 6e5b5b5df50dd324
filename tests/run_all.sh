#!/usr/bin/env bash
# Builds headlink and runs every test: the normal build, then the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# A fresh machine may lack the build tools; install them when we can.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update && apt-get install -y --no-install-recommends "${need[@]}"
  else
    echo "missing: ${need[*]} (install them, e.g. with sudo apt-get install)" >&2
    exit 1
  fi
fi

echo "== normal build =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build (address, undefined) =="
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DHEADLINK_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
