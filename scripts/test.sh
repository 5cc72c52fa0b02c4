#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Sonarvex from scratch and runs every test:
# the normal build, the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# and a short libFuzzer run of every fuzz target over its corpus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/deps.sh
jobs=$(nproc)
# Compiler cache hits whatever folder the checkout is in.
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
fuzz_seconds=${SONARVEX_FUZZ_SECONDS:-5}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

if [ "${SONARVEX_SKIP_ASAN:-0}" != 1 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONARVEX_SANITIZE=ON -DSONARVEX_BENCH=OFF
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
     ctest --output-on-failure -j"$jobs" --timeout 900 -LE no-sanitize)
fi

if [ "${SONARVEX_SKIP_FUZZ:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSONARVEX_FUZZ=ON -DSONARVEX_SANITIZE=ON -DSONARVEX_UI=OFF -DSONARVEX_TESTS=OFF -DSONARVEX_BENCH=OFF
  cmake --build build-fuzz -j"$jobs" --target fuzzers
  for f in build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="fuzz/${name#fuzz_}/corpus"
    work=$(mktemp -d)
    echo "fuzzing $name for ${fuzz_seconds}s over $corpus"
    "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 "$work" "$corpus" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
echo "all tests passed"
