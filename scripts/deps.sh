#!/usr/bin/env bash
# Installs what Pointwind needs to build and test on Debian 12, skipping
# what is already there. Sourced by the other scripts.
set -euo pipefail

POINTWIND_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libssl-dev openssl)
if [[ -n "${POINTWIND_EXTRA_PACKAGES:-}" ]]; then
    read -r -a extra <<<"$POINTWIND_EXTRA_PACKAGES"
    POINTWIND_PACKAGES+=("${extra[@]}")
fi

pointwind_sudo() {
    if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${POINTWIND_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    pointwind_sudo apt-get update -qq
    pointwind_sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
