#!/usr/bin/env bash
# Builds headlink into build/ and runs it on a copy of the example kit in
# build/example-run/, printing the report of the rows it found or added.
# Needs only CMake, make, a C++ compiler and the headers of xxHash and
# robin-map; on Debian or Ubuntu it installs whichever of them is missing
# with apt-get (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

. tests/support/need.sh
need cmake cmake make make 'c++|g++' g++ /usr/include/xxhash.h libxxhash-dev \
  /usr/include/tsl/robin_map.h robin-map-dev

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build
cmake --build build -j "$jobs" --target run_example
echo "The programs are build/app/headlink and build/twoda/twoda."
