#!/usr/bin/env bash
# The Windows edition, cross-built on Debian 12 and tested under Wine.
#   scripts/windows.sh            toolchain, Pointwind, tests under Wine, zip and installer
#   scripts/windows.sh toolchain  only Qt and OpenSSL for MinGW (into the cache)
#   scripts/windows.sh build      toolchain and Pointwind, no tests, no deliverables
# Qt and OpenSSL are built once from Debian's own source packages into
# $POINTWIND_WIN_CACHE (default /var/cache/pointwind-win64), keyed by their
# versions and configuration, so later runs on the same machine reuse them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what="${1:-all}"
export POINTWIND_EXTRA_PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
 binutils-mingw-w64-x86-64 qt6-base-dev-tools wine64 xvfb xauth nsis dpkg-dev perl make
 zip unzip imagemagick ${POINTWIND_EXTRA_PACKAGES:-}"
source "$root/scripts/deps.sh"

cache="${POINTWIND_WIN_CACHE:-/var/cache/pointwind-win64}"
build="$root/build-win64"
jobs="$(nproc)"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
t0=$SECONDS
stage() { echo "== windows: $1: $(($SECONDS - ${2:-$t0})) s"; }

# ---- sources -----------------------------------------------------------
# apt-get source needs deb-src lines; add them for the archive the machine
# already uses, once.
ensure_deb_src() {
    if ! apt-get source --print-uris qt6-base >/dev/null 2>&1 \
        || [[ -z "$(apt-get source --print-uris qt6-base 2>/dev/null | grep -m1 dsc)" ]]; then
        local f=/etc/apt/sources.list.d/pointwind-deb-src.sources
        if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
                | pointwind_sudo tee "$f" >/dev/null
        else
            grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
                | pointwind_sudo tee /etc/apt/sources.list.d/pointwind-deb-src.list >/dev/null
        fi
        pointwind_sudo apt-get update -qq
    fi
}

# Unpacks Debian's source of $1 (with Debian's patches) into $2 and prints
# the version. When the security archive has lost the .dsc of the newest
# version while its upstream tarball is there, the tarball alone is used.
fetch_source() {
    local pkg="$1" dir="$2" ver
    ver="$(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -V | tail -1)"
    mkdir -p "$cache/src"
    if [[ ! -d "$dir" ]]; then
        (cd "$cache/src" && apt-get source -qq --download-only "$pkg=$ver" >/dev/null 2>&1 || true)
        local dsc="$cache/src/${pkg}_${ver#*:}.dsc"
        if [[ -f "$dsc" ]]; then
            dpkg-source -x "$dsc" "$dir.tmp" >/dev/null
        else
            local orig
            orig="$(ls "$cache/src/${pkg}_${ver%-*}".orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -1)"
            [[ -n "$orig" ]] || { echo "no source for $pkg $ver" >&2; exit 1; }
            mkdir -p "$dir.tmp" && tar -xf "$orig" -C "$dir.tmp" --strip-components=1
        fi
        mv "$dir.tmp" "$dir"
    fi
    echo "$ver"
}

# Only what Pointwind uses: Core, Gui, Widgets, Test, the windows and
# offscreen platforms. Everything bundled, so the DLLs need nothing else.
qt_flags=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_zstd=OFF -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_opengl=OFF
    -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
    -DFEATURE_pdf=OFF -DFEATURE_graphicsview=OFF -DFEATURE_mdiarea=OFF
    -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF
    -DFEATURE_textmarkdownwriter=OFF -DFEATURE_sessionmanager=OFF
)

build_qt() {
    local s=$SECONDS src="$cache/src/qtbase" ver key prefix
    ver="$(fetch_source qt6-base "$src")"
    key="$(printf '%s\n' "$ver" "${qt_flags[@]}" | sha256sum | cut -c1-10)"
    prefix="$cache/qt-$ver-$key"
    if [[ ! -f "$prefix/.done" ]]; then
        # Without Direct2D, the windows plugin still asks for the DirectWrite
        # font database that only the Direct2D build provides.
        sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
            "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
        local b="$cache/qt-build-$key"
        cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DCMAKE_INSTALL_PREFIX="$prefix" "${qt_flags[@]}" >"$cache/qt-configure-$key.log"
        cmake --build "$b" --parallel "$jobs"
        cmake --install "$b" >/dev/null
        touch "$prefix/.done"
        rm -rf "$b"
    fi
    QT_PREFIX="$prefix"
    stage "Qt $ver" "$s"
}

build_openssl() {
    local s=$SECONDS src="$cache/src/openssl" ver="$1" prefix="$2"
    if [[ ! -f "$prefix/.done" ]]; then
        local b="$cache/openssl-build"
        rm -rf "$b" && cp -a "$src" "$b"
        (cd "$b" && ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- shared no-tests \
            no-docs --prefix="$prefix" --libdir=lib >/dev/null &&
            make -s -j"$jobs" >/dev/null && make -s install_sw >/dev/null)
        touch "$prefix/.done"
        rm -rf "$b"
    fi
    stage "OpenSSL $ver" "$s"
}

toolchain() {
    ensure_deb_src
    # Qt and OpenSSL side by side: OpenSSL's build is mostly serial steps
    # that leave a core free for Qt.
    local ver
    ver="$(fetch_source openssl "$cache/src/openssl")"
    OPENSSL_PREFIX="$cache/openssl-$ver"
    build_openssl "$ver" "$OPENSSL_PREFIX" >"$cache/openssl.log" 2>&1 &
    local ossl=$!
    build_qt
    wait "$ossl" || { cat "$cache/openssl.log" >&2; exit 1; }
    grep '^== ' "$cache/openssl.log"
}

mkdir -p "$cache"
toolchain
[[ "$what" == toolchain ]] && { stage "toolchain ready"; exit 0; }

# ---- Pointwind ---------------------------------------------------------
build="${POINTWIND_WIN_BUILD:-$build}"
mingw_runtime="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")"
winepath_dirs=("$QT_PREFIX/bin" "$OPENSSL_PREFIX/bin" "$mingw_runtime" /usr/x86_64-w64-mingw32/lib)
# Wine finds the DLLs along WINEPATH (its own syntax: Z: is /) and Qt its
# plugins along QT_PLUGIN_PATH.
wine_env() {
    local IFS=';' p=()
    for d in "${winepath_dirs[@]}"; do p+=("Z:${d//\//\\}"); done
    export WINEPATH="${p[*]}" QT_PLUGIN_PATH="$QT_PREFIX/plugins"
    export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
}
wine=/usr/lib/wine/wine64

configure_pointwind() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$QT_PREFIX" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DOPENSSL_ROOT_DIR="$OPENSSL_PREFIX" -DPOINTWIND_BENCH=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null
}

s=$SECONDS
configure_pointwind
wine_env
if [[ "$what" == ctest ]]; then
    shift
    # One Wine server for the whole run instead of one per test program.
    /usr/lib/wine/wineserver -p 2>/dev/null || true
    cd "$build" && exec ctest --output-on-failure "$@"
fi
if [[ "$what" == build ]]; then
    shift || true
    cmake --build "$build" ${1:+--target "$@"}
    stage "Pointwind built" "$s"
    exit 0
fi
cmake --build "$build"
stage "Pointwind built" "$s"
