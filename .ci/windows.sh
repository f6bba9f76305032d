#!/usr/bin/env bash
# Cross-builds KORVAX.dll with MinGW-w64 in build-win/, checks its export
# and import tables, and runs the Windows tests under Wine (ctest).
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-dlltool x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y g++-mingw-w64-x86-64)" >&2; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null ||
  { echo "missing wine64 (apt-get install -y wine64)" >&2; exit 1; }
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
cmake --build build-win
# The first run under Wine creates its prefix in build-win/wineprefix.
ctest --test-dir build-win --output-on-failure
