#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh                   normal build in build/
#   POINTWIND_SANITIZE=1 scripts/test.sh   address + undefined-behaviour build in build-asan/
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

if [[ "${POINTWIND_SANITIZE:-0}" == 1 ]]; then
    build="$root/build-asan"
    flags=(-DPOINTWIND_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DPOINTWIND_BENCH=OFF)
else
    build="$root/build"
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
export QT_QPA_PLATFORM=offscreen
cmake -S "$root" -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
