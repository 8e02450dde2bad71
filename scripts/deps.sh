#!/usr/bin/env bash
# Installs the Debian packages the build needs when any is missing.
# Usage: scripts/deps.sh <group>...   groups: build test fuzz ppc
set -euo pipefail

packages=()
for group in "$@"; do
    case "$group" in
        build) packages+=(cmake make g++ python3 libboost-dev libloki-dev) ;;
        test) packages+=(libgtest-dev libgmock-dev libbenchmark-dev iproute2 tshark libosmo-abis-dev
                         libosmocore-dev snmptrapd libpri-dev) ;;
        fuzz) packages+=(clang libclang-rt-dev) ;;
        ppc) packages+=(g++-powerpc-linux-gnu qemu-user googletest) ;;
        *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/deps-install.log 2>&1; then
    $sudo apt-get update -q >/tmp/deps-update.log 2>&1 || true
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/deps-install.log 2>&1 || {
        tail -20 /tmp/deps-install.log >&2
        exit 1
    }
fi
