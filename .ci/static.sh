#!/usr/bin/env bash
# Static analysis of our own sources: cppcheck and clang-tidy (checks in
# .clang-tidy) over src/, sim/, visa/, visa-sim/, tools/ and switching/ (those that exist). Any
# finding fails; fix it, or suppress it where it is with the reason
# (// cppcheck-suppress <id> or // NOLINT(<check>): <reason>).
set -euo pipefail
cd "$(dirname "$0")/.."

dirs=()
for d in src sim visa visa-sim tools switching; do [ -d "$d" ] && dirs+=("$d"); done
pattern="$PWD/($(IFS='|'; echo "${dirs[*]}"))/"

echo "+ cppcheck ${dirs[*]}"
cppcheck --enable=warning,performance,portability --std=c++20 --language=c++ \
  --inline-suppr --error-exitcode=1 --quiet -j2 \
  -I include -I src -I . "${dirs[@]}"

# clang-tidy reads the compile commands of a configured (not built) tree.
build=build-static
cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DKORVAX_BUILD_TESTS=OFF -DKORVAX_BUILD_BENCH=OFF >/dev/null
echo "+ clang-tidy ${dirs[*]}"
tidy=$(command -v run-clang-tidy || command -v run-clang-tidy-14)
"$tidy" -p "$build" -j2 -quiet "$pattern"
