#!/usr/bin/env bash
# Line coverage of the library (src/) and the simulator (sim/) by the whole
# test suite: a build of its own in build-coverage/ with g++ --coverage,
# every test run once, gcovr's summary printed (and an HTML report left in
# build-coverage/coverage/index.html).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-coverage
# Atomic counters: the tests switch from several threads at once, and plain
# counters updated from two threads come out as nonsense (negative branch
# counts that gcovr refuses).
flags='--coverage -fprofile-update=atomic'
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVAX_BUILD_TESTS=ON -DKORVAX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
cmake --build "$build" -j2
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j2 --output-on-failure
mkdir -p "$build/coverage"
gcovr --root . --object-directory "$build" \
  --filter 'src/' --filter 'sim/' \
  --print-summary --html-details "$build/coverage/index.html" \
  --txt "$build/coverage/summary.txt"
sed -n '1,200p' "$build/coverage/summary.txt" | tail -n 40
