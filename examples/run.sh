#!/usr/bin/env bash
# Builds headlink into build/ and runs it on a copy of the example kit in
# build/example-run/, printing the report of the rows it found or added.
# Needs only CMake, make and a C++ compiler; on Debian or Ubuntu it installs
# whichever of them is missing with apt-get (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v c++ >/dev/null || command -v g++ >/dev/null || need+=(g++)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null; then
      sudo=sudo
    else
      sudo=none
    fi
  fi
  if [ "$sudo" = none ] || ! command -v apt-get >/dev/null; then
    echo "run.sh: missing ${need[*]}: install these packages and run it again" >&2
    exit 1
  fi
  echo "== installing: ${need[*]} =="
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build
cmake --build build -j "$jobs" --target run_example
echo "The programs are build/app/headlink and build/twoda/twoda."
