#!/usr/bin/env bash
# The Windows edition, cross-built on Debian 12 and tested under Wine.
#   scripts/windows.sh            toolchain, Pointwind, tests under Wine, zip and installer
#   scripts/windows.sh toolchain  only Qt and OpenSSL for MinGW (into the cache)
#   scripts/windows.sh build [targets]  toolchain and Pointwind, nothing else
#   scripts/windows.sh ctest [args]     CTest under Wine in the built tree
#   scripts/windows.sh package          up to the zip and the installer
#   scripts/windows.sh checks           all but the test suite under Wine
# Qt and OpenSSL are built once from Debian's own source packages into
# $POINTWIND_WIN_CACHE (default /var/cache/pointwind-win64), keyed by their
# versions and configuration, so later runs on the same machine reuse them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what="${1:-all}"
win_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    qt6-base-dev-tools wine64 fonts-wine xvfb xauth nsis dpkg-dev perl make zip imagemagick xdotool)
export POINTWIND_EXTRA_PACKAGES="${win_packages[*]} ${POINTWIND_EXTRA_PACKAGES:-}"
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
        # Without OpenGL, the window code must not reach for the dynamic
        # OpenGL loader, which Qt 6.4.2 leaves switched on.
        sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
            "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
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
            --prefix="$prefix" --libdir=lib >/dev/null &&
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
# Wine finds the DLLs along WINEPATH (its own syntax: Z: is /); Qt finds its
# plugins beside its own DLLs.
wine_env() {
    local IFS=';' p=()
    for d in "${winepath_dirs[@]}"; do p+=("Z:${d//\//\\}"); done
    export WINEPATH="${p[*]}"
    export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
}
wine=/usr/lib/wine/wine64
# One Wine server for the whole run instead of one per test program. Wine's
# desktop process keeps the output of the program that started it open for
# as long as it lives (CTest then waits on it), and two tests starting at
# once race to start it: one started here, attached to nothing, serves all.
start_wine_desktop() {
    /usr/lib/wine/wineserver -p 2>/dev/null || true
    "$wine" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
}

configure_pointwind() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DPOINTWIND_WIN_PREFIXES="$QT_PREFIX;$OPENSSL_PREFIX" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DOPENSSL_ROOT_DIR="$OPENSSL_PREFIX" -DPOINTWIND_BENCH=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null
}

s=$SECONDS
configure_pointwind
wine_env
if [[ "$what" == ctest ]]; then
    shift
    start_wine_desktop
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
[[ "$what" == build ]] && exit 0

# ---- the portable folder, the zip and the installer ---------------------
version="$(sed -n 's/^project(Pointwind VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
name="Pointwind-$version-win64"
stage_dir="$build/$name"
qt_src="$cache/src/qtbase"
ossl_src="$cache/src/openssl"

# The DLLs a program file needs that are ours to ship: everything found in
# the Qt, OpenSSL and MinGW folders, followed recursively; Windows' own
# DLLs are found nowhere there and stay out.
dll_closure() {
    local todo=("$@") seen=() f d dll
    while ((${#todo[@]})); do
        f="${todo[0]}"; todo=("${todo[@]:1}")
        for dll in $(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
            for d in "${winepath_dirs[@]}"; do
                if [[ -f "$d/$dll" && " ${seen[*]-} " != *" $d/$dll "* ]]; then
                    seen+=("$d/$dll"); todo+=("$d/$dll"); break
                fi
            done
        done
    done
    printf '%s\n' "${seen[@]}"
}

make_bundle() {
    rm -rf "$stage_dir" && mkdir -p "$stage_dir/platforms" "$stage_dir/styles" "$stage_dir/licenses"
    cp "$build/pointwind.exe" "$build/pointwind-cli.exe" "$stage_dir/"
    cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$stage_dir/platforms/"
    # The native look of buttons and dialogs comes from the style plugin.
    cp "$QT_PREFIX"/plugins/styles/*.dll "$stage_dir/styles/"
    rmdir "$stage_dir/styles" 2>/dev/null || true
    dll_closure "$stage_dir"/*.exe "$stage_dir"/*/*.dll | xargs -r cp -t "$stage_dir/"
    x86_64-w64-mingw32-strip --strip-unneeded "$stage_dir"/*.exe "$stage_dir"/*.dll "$stage_dir"/*/*.dll
    # Licence texts: Pointwind's own, Qt's and what Qt bundles, OpenSSL's,
    # and the MinGW runtime's.
    sed 's/$/\r/' "$root/COPYING" >"$stage_dir/COPYING.txt"
    sed 's/$/\r/' "$qt_src/LICENSES/LGPL-3.0-only.txt" >"$stage_dir/licenses/Qt-LGPL-3.0.txt"
    sed 's/$/\r/' "$qt_src/LICENSES/GPL-3.0-only.txt" >"$stage_dir/licenses/Qt-GPL-3.0.txt"
    sed 's/$/\r/' "$ossl_src/LICENSE.txt" >"$stage_dir/licenses/OpenSSL-Apache-2.0.txt"
    {
        echo "Third-party software in this folder"
        echo
        echo "Qt $(basename "$QT_PREFIX" | cut -d- -f2) (Qt6Core, Qt6Gui, Qt6Widgets and plugins): LGPL-3.0,"
        echo "  see Qt-LGPL-3.0.txt; the source is Debian's qt6-base source package."
        echo "  Qt bundles these, under their own licences:"
        # Qt's attribution files name each bundled library's licence file.
        python3 - "$qt_src" "$stage_dir/licenses" <<'PY'
import json, os, sys
src, out = sys.argv[1], sys.argv[2]
for lib in ("zlib", "pcre2", "libpng", "freetype", "harfbuzz-ng", "md4c", "double-conversion",
            "sha3", "tinycbor", "forkfd", "easing", "icc"):
    path = os.path.join(src, "src/3rdparty", lib, "qt_attribution.json")
    if not os.path.exists(path):
        continue
    data = json.loads(open(path, encoding="utf-8").read(), strict=False)
    for e in data if isinstance(data, list) else [data]:
        line = "  - %s %s: %s" % (e.get("Name", lib), e.get("Version", ""), e.get("License", ""))
        lic = e.get("LicenseFile")
        if lic and os.path.exists(os.path.join(os.path.dirname(path), lic)):
            name = "Qt-%s-%s.txt" % (e.get("Id", lib), os.path.basename(lic).split(".")[0])
            text = open(os.path.join(os.path.dirname(path), lic), encoding="utf-8", errors="replace").read()
            open(os.path.join(out, name), "w", newline="\r\n").write(text)
            line += ", see " + name
        print(line)
PY
        echo "OpenSSL $(basename "$OPENSSL_PREFIX" | cut -d- -f2) (libssl, libcrypto): Apache-2.0, see OpenSSL-Apache-2.0.txt."
        echo "GCC runtime (libstdc++, libgcc): GPL-3.0 with the GCC Runtime Library Exception."
        echo "MinGW-w64 winpthreads: MIT and BSD-3-Clause (mingw-w64 project)."
    } | sed 's/$/\r/' >"$stage_dir/licenses/THIRD-PARTY-NOTICES.txt"
}

make_zip() {
    rm -f "$build/$name.zip"
    (cd "$build" && zip -qr9 "$name.zip" "$name")
}

make_installer() {
    local nsh_in="$build/install.nsh" nsh_un="$build/uninstall.nsh" f dir
    : >"$nsh_in"; : >"$nsh_un"
    for dir in "" $(cd "$stage_dir" && find . -mindepth 1 -type d | sed 's|^\./||' | sort); do
        echo "SetOutPath \"\$INSTDIR${dir:+\\${dir//\//\\}}\"" >>"$nsh_in"
        for f in "$stage_dir/${dir:+$dir/}"*; do
            [[ -f "$f" ]] || continue
            echo "File \"$f\"" >>"$nsh_in"
            local rel="${f#$stage_dir/}"
            echo "Delete \"\$INSTDIR\\${rel//\//\\}\"" >>"$nsh_un"
        done
    done
    for dir in $(cd "$stage_dir" && find . -mindepth 1 -type d | sed 's|^\./||' | sort -r); do
        echo "RMDir \"\$INSTDIR\\${dir//\//\\}\"" >>"$nsh_un"
    done
    makensis -V2 -DVERSION="$version" -DOUTFILE="$build/$name-setup.exe" \
        -DICON="$build/packaging/windows/pointwind.ico" -DLICENSE="$stage_dir/COPYING.txt" \
        -DFILES="$nsh_in" -DUNFILES="$nsh_un" "$root/packaging/windows/pointwind.nsi"
}

s=$SECONDS
make_bundle
make_zip
make_installer
stage "zip $(du -h "$build/$name.zip" | cut -f1), installer $(du -h "$build/$name-setup.exe" | cut -f1)" "$s"
[[ "$what" == package ]] && exit 0

# ---- the test suite under Wine ------------------------------------------
if [[ "$what" != checks ]]; then
    s=$SECONDS
    start_wine_desktop
    # Wine now and then drops a socket notification that Windows delivers;
    # a test program that fails is run once more, and fails CI if it fails
    # again.
    (cd "$build" && ctest --output-on-failure -j"$jobs" --repeat until-pass:2)
    stage "test suite under Wine" "$s"
fi

# ---- the deliverables under Wine ----------------------------------------
# The portable folder must run on its own: no WINEPATH from here on.
unset WINEPATH
linux_build="$root/build"
s=$SECONDS
cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$linux_build" --target nntp_test_server tst_wineEdition >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/pointwind-wine.XXXXXX")"
server_pid=""
cleanup() {
    [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The command line, plain and over SSL/TLS, against the Linux test server.
POINTWIND_WINE="$wine" POINTWIND_WINE_CLI="$stage_dir/pointwind-cli.exe" \
    "$linux_build/tests/app/tst_wineEdition"

roaming="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
local_data="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"

# The window: opens the file named on its command line, runs to the end
# driven by keys alone, and is pictured.
group="alt.binaries.pointwind.demo"
source "$root/scripts/test_server.sh"
start_test_server "$linux_build/tests/support/nntp_test_server" "$work/server.log" --group "$group" \
    --low 1000 --high 251000 --days 120
mkdir -p "$work/groups" "$roaming"
# Windows has Tahoma and Marlett; a Wine prefix finds them only in its own
# font folder, and without them line edits draw their text out of sight.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
file="$work/groups/$group.nc1"
printf '31415\rnew = 12\rall = 48211\rver = 2\rlu  = 1733011200\r\r127.0.0.1\r250990\r\r' >"$file"
before="$(sha256sum <"$file")"
printf '[Settings]\r\nNNTPServer=127.0.0.1\r\nNNTPPort=%s\r\nLogin=0\r\n' "$port" >"$roaming/Quillo!.ini"
shot="$root/docs/screenshot-windows.png"
# Wine's own desktop draws the window as Windows would, frame and all.
xvfb-run -a -s "-screen 0 1024x768x24" bash -s "$wine" "$stage_dir/pointwind.exe" "$file" "$shot" <<'XEOF'
set -uo pipefail
wine="$1" exe="$2" file="$3" shot="$4"
"$wine" explorer /desktop=Pointwind,760x560 "$exe" "$file" &
pid=$!
desk=""
for _ in $(seq 1 120); do
    desk="$(xdotool search --name '^Pointwind - Wine desktop' 2>/dev/null | head -1)"
    [[ -n "$desk" ]] && xdotool search --name '^Pointwind v' >/dev/null 2>&1 && break
    sleep 0.5
done
sleep 2
xdotool windowfocus --sync "$desk"
# The file is open and the day count box has the focus; Tab moves on to Go.
xdotool type --delay 100 30
xdotool key Tab Return
for _ in $(seq 1 120); do [[ -f "$file.bak" ]] && break; sleep 0.5; done
sleep 3
import -window "$desk" "$shot"
kill "$pid" 2>/dev/null
/usr/lib/wine/wineserver -k 2>/dev/null
exit 0
XEOF
[[ -f "$file.bak" && "$(sha256sum <"$file")" != "$before" ]] ||
    { echo "the window did not rewrite the file under Wine" >&2; exit 1; }
echo "window under Wine: file rewritten, picture in docs/$(basename "$shot")"

# The installer: silent install for this user, what it leaves, the
# installed command line, and a silent uninstall that takes it all away.
setup="$build/$name-setup.exe"
installed="$local_data/Programs/Pointwind"
keys=('HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pointwind'
      'HKCU\Software\Classes\Applications\pointwind.exe\shell\open\command'
      'HKCU\Software\Classes\Pointwind.nc1\shell\open\command')
"$wine" "$setup" /S
/usr/lib/wine/wineserver -w
for f in pointwind.exe pointwind-cli.exe uninstall.exe platforms/qwindows.dll COPYING.txt; do
    [[ -f "$installed/$f" ]] || { echo "installer: $f missing" >&2; exit 1; }
done
for k in "${keys[@]}"; do "$wine" reg query "$k" >/dev/null 2>&1 || { echo "installer: no $k" >&2; exit 1; }; done
[[ -n "$(find "$roaming" -iname 'Pointwind.lnk' 2>/dev/null)" ]] || { echo "installer: no Start menu entry" >&2; exit 1; }
got="$("$wine" "$installed/pointwind-cli.exe" --version | tr -d '\r')"
[[ "$got" == *"$version"* ]] || { echo "installed --version said: $got" >&2; exit 1; }
"$wine" "$installed/uninstall.exe" /S
/usr/lib/wine/wineserver -w
for _ in $(seq 1 50); do [[ ! -e "$installed" ]] && break; sleep 0.2; done
[[ ! -e "$installed" ]] || { echo "uninstall left: $(find "$installed")" >&2; exit 1; }
for k in "${keys[@]}"; do
    if "$wine" reg query "$k" >/dev/null 2>&1; then echo "uninstall left $k" >&2; exit 1; fi
done
[[ -z "$(find "$roaming" -iname 'Pointwind.lnk' 2>/dev/null)" ]] || { echo "uninstall left the Start menu entry" >&2; exit 1; }
[[ -f "$roaming/Quillo!.ini" ]] || { echo "uninstall took the settings" >&2; exit 1; }
echo "installer under Wine: /S install, --version $version, /S uninstall clean, settings kept"
stage "deliverables under Wine" "$s"
stage "whole Windows edition"
