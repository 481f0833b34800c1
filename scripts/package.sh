#!/usr/bin/env bash
# Builds the Debian package build/pointwind_<version>_amd64.deb with CPack.
# Reuses build/ (the tree scripts/test.sh makes) and builds only what the
# package holds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# dpkg-shlibdeps finds the dependencies; CPack picks the binaries with file.
export POINTWIND_EXTRA_PACKAGES="dpkg-dev file ${POINTWIND_EXTRA_PACKAGES:-}"
source "$root/scripts/deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pointwind pointwind_manpage pointwind_icons pointwind_changelog
rm -f "$build"/pointwind_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/pointwind_*_amd64.deb
