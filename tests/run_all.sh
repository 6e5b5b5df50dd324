#!/usr/bin/env bash
# Builds headlink and runs every test:
#   1. the Windows build (MinGW-w64), packaged as a zip;
#   2. the native build: unit and end-to-end tests, the end-to-end tests again
#      against the Windows build under Wine and under valgrind, a tar.gz, and
#      the fault sweep (every file-system call of a run failed in turn);
#   3. a Release build as a packager makes it, warnings as errors, with the
#      suite run on it, and one quick pass of the benchmarks;
#   4. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#   5. each fuzz target for a short while (FUZZ_SECONDS, default 60).
# Between 2 and 3, the page (headlink.html, built with emscripten) is driven
# in Chromium and in Firefox ESR through its file picker, drops, the
# keyboard and its save links.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# A fresh machine may lack some tools; install what is missing.
. tests/support/need.sh
need cmake cmake \
  make make \
  g++ g++ \
  /usr/include/xxhash.h libxxhash-dev \
  /usr/include/tsl/robin_map.h robin-map-dev \
  /usr/include/nlohmann/json.hpp nlohmann-json3-dev \
  groff groff-base \
  /usr/include/gtest/gtest.h libgtest-dev \
  x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix \
  /usr/lib/wine/wine64 wine64 \
  valgrind valgrind \
  clang++-14 clang-14 \
  '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' libclang-rt-14-dev \
  unzip unzip \
  dpkg-shlibdeps dpkg-dev \
  file file \
  /usr/include/benchmark/benchmark.h libbenchmark-dev \
  /usr/bin/time time \
  strace strace \
  faketime faketime \
  pkill procps \
  tmux tmux \
  prlimit util-linux \
  emcc emscripten \
  /usr/bin/chromium chromium \
  /usr/bin/firefox-esr firefox-esr \
  node nodejs \
  npm npm

# The page first: both packages ship it.
echo "== the page =="
cmake --preset web
cmake --build build-web -j "$jobs"
page="$PWD/build-web/headlink.html"

echo "== Windows build =="
cmake --preset windows -DHEADLINK_PAGE="$page"
cmake --build build-windows -j "$jobs"
(cd build-windows && cpack -q)
echo "release archive:"
unzip -l build-windows/headlink-*-Windows.zip
# Windows has no install tree: the program, the README and the kit sit side by side.
listing=$(unzip -Z1 build-windows/headlink-*-Windows.zip)
for f in headlink.exe twoda.exe headlink.html README.md docs/manual.md examples/{appearance,heads,portraits}.2da \
    examples/{head,apphead1,apphead2,apphead3,portraits}.txt; do
  grep -qx "headlink-[^/]*/$f" <<<"$listing" || { echo "not in the zip: $f" >&2; exit 1; }
done

export WINEPREFIX="$PWD/build-windows/wine-prefix" WINEDEBUG=-all
# One Wine server for the whole run: left to itself it exits a few seconds
# after its last program, and a program started just then fails with
# "recvmsg: Connection reset by peer". It must start before anything else
# in the prefix does.
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true

echo "== native build =="
cmake --preset default -DHEADLINK_WINDOWS_EXE="$PWD/build-windows/app/headlink.exe" \
  -DHEADLINK_WINDOWS_TWODA_EXE="$PWD/build-windows/twoda/twoda.exe" -DHEADLINK_VALGRIND=ON -DHEADLINK_PAGE="$page"
cmake --build build -j "$jobs"
(cd build && cpack -q)
# The Debian package: what it holds, and its program unpacked into a
# scratch root, run on the example kit it carries.
dpkg-deb -I build/headlink_*_amd64.deb
rm -rf build/deb-root build/deb-run && dpkg -x build/headlink_*_amd64.deb build/deb-root
for f in usr/bin/headlink usr/bin/twoda usr/share/headlink/headlink.html usr/share/man/man1/headlink.1 \
    usr/share/doc/headlink/examples/pack/moonveil/head.txt; do
  [ -f "build/deb-root/$f" ] || { echo "not in the Debian package: $f" >&2; exit 1; }
done
mkdir build/deb-run && cp build/deb-root/usr/share/doc/headlink/examples/*.* build/deb-run/
build/deb-root/usr/bin/headlink -C build/deb-run
rm -rf build/deb-ref && mkdir build/deb-ref && cp examples/*.2da examples/*.txt build/deb-ref/ && rm -f build/deb-ref/*_updated.2da
build/app/headlink -C build/deb-ref
for t in appearance heads portraits; do cmp "build/deb-run/${t}_updated.2da" "build/deb-ref/${t}_updated.2da"; done
echo "the Debian package's headlink did the example kit's job"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== fault sweep =="
bash tests/fault_sweep.sh build

echo "== the page, in a browser =="
(cd web && npm install --no-package-lock --no-audit --no-fund --loglevel=error)
node tests/web/page_test.js build-web/headlink.html build/app/headlink examples build-web build/twoda/twoda \
  build/bench/make_kit
echo "screenshots: build-web/headlink-page*.png"

echo "== installed layout =="
rm -rf build/install-check
cmake --install build --prefix "$PWD/build/install-check" >/dev/null
(cd build/install-check && find . -type f | sort)
for f in bin/headlink bin/twoda share/headlink/headlink.html share/man/man1/headlink.1 share/man/man1/twoda.1 \
    share/doc/headlink/README.md share/doc/headlink/docs/manual.md \
    share/doc/headlink/examples/{appearance,heads,portraits}.2da \
    share/doc/headlink/examples/{head,apphead1,apphead2,apphead3,portraits}.txt; do
  [ -f "build/install-check/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

# A packager's Release build: at its -O3 GCC reports warnings (such as
# -Wrestrict) that the -O2 and -O0 builds above and below never see.
echo "== Release build =="
cmake --preset release
cmake --build build-release -j "$jobs"
ctest --test-dir build-release --output-on-failure -j "$jobs"

# The benchmarks, once and briefly, so that they keep building and running.
echo "== benchmarks (one quick pass) =="
BENCH_RUNS=1 BENCH_QUICK=1 BENCH_BUILD=build-release bash bench/run.sh

echo "== sanitizer build (address, undefined) =="
cmake --preset sanitize
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

if [ -f tests/fuzz/run.sh ]; then
  echo "== fuzzing, ${FUZZ_SECONDS:-60} s per target =="
  bash tests/fuzz/run.sh
fi
