#!/usr/bin/env bash
# Installs what is missing, builds Pointwind (Release) and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOINTWIND_TESTS=OFF -DPOINTWIND_BENCH=OFF >/dev/null
cmake --build "$build" --target pointwind
exec "$build/pointwind" "$@"
