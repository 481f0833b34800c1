#!/usr/bin/env bash
# Checks the installation as a user meets it: validates the desktop entry and
# the metainfo, lists what `cmake --install` puts into a DESTDIR, runs
# lintian on the package, installs it with apt-get, runs the installed
# program, asks the desktop which program opens group cache files, and
# purges the package again. Run as root (CI); reuses build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export POINTWIND_EXTRA_PACKAGES="lintian desktop-file-utils appstream xdg-utils shared-mime-info ${POINTWIND_EXTRA_PACKAGES:-}"
source "$root/scripts/deps.sh"

app_id=org.example.Pointwind
mime_type=application/x-nc1-group-cache
build="$root/build"
deb="$(bash "$root/scripts/package.sh" | tail -n 1)"
cmake --build "$build" --target nntp_test_server >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/pointwind-package.XXXXXX")"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    # A failed check leaves no package behind either.
    if dpkg-query -W pointwind >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pointwind >/dev/null || true
    fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== desktop entry and metainfo"
desktop-file-validate "$root/packaging/$app_id.desktop"
appstreamcli validate --no-net "$build/packaging/$app_id.metainfo.xml"

echo "== cmake --install into a DESTDIR"
DESTDIR="$work/dest" cmake --install "$build" >/dev/null
(cd "$work/dest" && find . ! -type d | sed 's#^\./#/#' | sort) >"$work/installed"
sort >"$work/expected" <<EOF2
/usr/local/bin/pointwind
/usr/local/share/applications/$app_id.desktop
/usr/local/share/icons/hicolor/16x16/apps/$app_id.png
/usr/local/share/icons/hicolor/32x32/apps/$app_id.png
/usr/local/share/icons/hicolor/48x48/apps/$app_id.png
/usr/local/share/icons/hicolor/64x64/apps/$app_id.png
/usr/local/share/icons/hicolor/128x128/apps/$app_id.png
/usr/local/share/icons/hicolor/256x256/apps/$app_id.png
/usr/local/share/man/man1/pointwind.1.gz
/usr/local/share/metainfo/$app_id.metainfo.xml
/usr/local/share/mime/packages/$app_id.xml
EOF2
diff -u "$work/expected" "$work/installed" || fail "cmake --install installs other files than expected"

echo "== lintian $(basename "$deb")"
lintian --fail-on error --display-info "$deb"

echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
dpkg-query -L pointwind | while read -r path; do [[ -d "$path" ]] || echo "$path"; done | sort >"$work/owned"
cat "$work/owned"

echo "== the installed program"
version="$(dpkg-query -W -f='${Version}' pointwind)"
/usr/bin/pointwind --version | grep -qF "$version" || fail "pointwind --version does not name $version"
# One reset of a generated group, with a throwaway settings store.
group=alt.test.package
"$build/tests/support/nntp_test_server" --port 0 --group "$group" --low 1000 --high 101000 --days 60 \
    >"$work/server.log" 2>&1 &
server_pid=$!
until grep -q '^Serving' "$work/server.log"; do
    kill -0 "$server_pid" 2>/dev/null || fail "the test server did not start: $(cat "$work/server.log")"
    sleep 0.1
done
port="$(sed -n 's/^Serving .* on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.log")"
printf '31415\rnew = 12\rall = 48211\rver = 2\rlu  = 1733011200\r\r127.0.0.1\r100990\r\r' >"$work/$group.nc1"
cp "$work/$group.nc1" "$work/before.nc1"
XDG_CONFIG_HOME="$work/config" /usr/bin/pointwind --days 7 --server 127.0.0.1 --port "$port" \
    --no-backup "$work/$group.nc1" </dev/null || fail "the command-line reset failed"
! cmp -s "$work/before.nc1" "$work/$group.nc1" || fail "the command-line reset left the file unchanged"

echo "== file association"
default="$(xdg-mime query default "$mime_type")"
[[ "$default" == "$app_id.desktop" ]] || fail "xdg-mime names '$default' for $mime_type"
grep -qx "$mime_type:\*\.nc1" /usr/share/mime/globs || fail "the MIME database does not know *.nc1"

echo "== apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pointwind >/dev/null
left=()
for path in $(cat "$work/owned") /usr/share/doc/pointwind; do
    if [[ -e "$path" || -L "$path" ]]; then left+=("$path"); fi
done
((${#left[@]} == 0)) || fail "left behind after purge: ${left[*]}"
if grep -q "$mime_type" /usr/share/mime/globs; then fail "the MIME database still knows $mime_type"; fi
echo "== package checks passed: $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
