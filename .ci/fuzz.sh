#!/usr/bin/env bash
# Fuzzes the SCPI text interface for a bounded time (FUZZ_SECONDS, default
# 60) under the address and undefined-behaviour sanitizers. Fails on any
# crash, sanitizer report, leak, timeout or memory blow-up; the input that
# caused it is left in build-fuzz/ (crash-*, leak-*, timeout-*, oom-*).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
sanitize='-fsanitize=address,undefined -fno-sanitize-recover=undefined'
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVAX_BUILD_FUZZ=ON -DKORVAX_BUILD_TESTS=ON -DKORVAX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize"
cmake --build "$build" --target korvax_fuzz_scpi -j2

# libFuzzer adds what it finds to its corpus directory: work on a copy so the
# seeds in the tree stay as they are.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/scpi/* "$corpus"/

"$build"/bin/korvax_fuzz_scpi \
  -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build"/ "$corpus"
