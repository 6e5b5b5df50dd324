#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 into build-fuzz and runs each for
# FUZZ_SECONDS (default 60) on a copy of its seed corpus in tests/fuzz/corpus/,
# so the committed corpus never grows. A crash, a sanitizer report or a broken
# property stops that target, prints the saved input in hex, and makes this
# script exit non-zero after the remaining targets ran.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc 2>/dev/null || echo 2)

. tests/support/need.sh
need cmake cmake clang++-14 clang-14 'xxd|od' xxd

# The fuzzer runtime ships apart from the compiler on Debian.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
  'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$probe/probe.cpp"
if ! clang++-14 -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
  install_packages libclang-rt-14-dev
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DHEADLINK_FUZZ=ON -DHEADLINK_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs" --target fuzz_table fuzz_script fuzz_run fuzz_twoda fuzz_game

hexdump() {
  if command -v xxd >/dev/null; then xxd "$1"; else od -A x -t x1z -v "$1"; fi
}

failed=()
for target in table script run twoda game; do
  work=$(mktemp -d)
  mkdir "$work/corpus" "$work/found"
  cp tests/fuzz/corpus/"$target"/* "$work/corpus/"
  echo "== fuzz_$target for ${seconds}s =="
  if ! build-fuzz/tests/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 \
      -error_exitcode=77 -timeout_exitcode=77 -print_final_stats=1 \
      -artifact_prefix="$work/found/" "$work/corpus"; then
    failed+=("fuzz_$target")
    for input in "$work"/found/*; do
      [ -e "$input" ] || continue
      echo "== fuzz_$target reproducer $(basename "$input") ($(wc -c <"$input") bytes):"
      hexdump "$input"
    done
    echo "== replay: build-fuzz/tests/fuzz/fuzz_$target FILE (the bytes above)"
  fi
  rm -rf "$work"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all targets ran ${seconds}s each without a failure"
