#!/usr/bin/env bash
# Tries Pointwind without a news account: builds it, starts a small local
# news server on 127.0.0.1 that serves a generated group whose articles span
# the last four months, puts a sample group cache file in a throwaway folder,
# points a throwaway settings store at that server and starts Pointwind.
# Everything is removed again when Pointwind closes.
#
#   scripts/demo.sh                          the program, to try by hand
#   scripts/demo.sh --screenshot FILE.png    one finished run, pictured under
#                                            a virtual X server (installs xvfb)
#   scripts/demo.sh --screenshot-groups FILE.png
#                                            the same for three groups in one run
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

shot=""
groups=1
if [[ "${1:-}" == "--screenshot" || "${1:-}" == "--screenshot-groups" ]]; then
    [[ -n "${2:-}" ]] || { echo "usage: $0 [--screenshot|--screenshot-groups FILE.png]" >&2; exit 2; }
    [[ "$1" == "--screenshot-groups" ]] && groups=3
    shot="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
    export POINTWIND_EXTRA_PACKAGES="xvfb xauth ${POINTWIND_EXTRA_PACKAGES:-}"
fi
source "$root/scripts/deps.sh"

build="$root/build-demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOINTWIND_BENCH=OFF >/dev/null
targets=(pointwind nntp_test_server)
[[ -n "$shot" ]] && targets+=(demo_screenshot)
cmake --build "$build" --target "${targets[@]}"

work="$(mktemp -d "${TMPDIR:-/tmp}/pointwind-demo.XXXXXX")"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# The group: 250,000 articles posted evenly over the last 120 days, each
# reply 20 ms late like a server some way off.
group="alt.binaries.pointwind.demo"
served="$group"
[[ $groups -gt 1 ]] && served="$group,alt.binaries.pointwind.other,alt.binaries.pointwind.third"
source "$root/scripts/test_server.sh"
start_test_server "$build/tests/support/nntp_test_server" "$work/server.log" --group "$served" \
    --low 1000 --high 251000 --days 120 --delay 20
cat "$work/server.log"

# A group cache file as the newsreader leaves it, and a settings store that
# names the demo server and opens the file dialog in its folder.
mkdir -p "$work/groups" "$work/config"
shots=()
for name in ${served//,/ }; do
    printf '31415\rnew = 12\rall = 48211\rver = 2\rlu  = 1733011200\r\r127.0.0.1\r250990\r\r' \
        >"$work/groups/$name.nc1"
    shots+=("$work/groups/$name.nc1")
done
cat >"$work/config/Quillo!.conf" <<EOF
[Settings]
NNTPServer=127.0.0.1
NNTPPort=$port
Login=0
Path=$work/groups
EOF
chmod 600 "$work/config/Quillo!.conf"
export XDG_CONFIG_HOME="$work/config"

if [[ -n "$shot" ]]; then
    xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/tests/support/demo_screenshot" "${shots[@]}" 30 "$shot"
    echo "Screenshot: $shot"
else
    echo "Open $work/groups/$group.nc1 with the folder button, enter a number of days, press Go."
    "$build/pointwind"
fi
