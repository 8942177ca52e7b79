#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and run the Ombrix
# API. Idempotent: asks apt only for packages that are missing.
#   scripts/setup.sh            build, tests, the virtual card on pcscd
#   scripts/setup.sh --windows  also the mingw-w64 toolchain and Wine
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    libpcsclite-dev pcscd vsmartcard-vpcd pcsc-tools python3-pyscard
    libssl-dev openssl
    googletest libgtest-dev libgmock-dev
    libcli11-dev nlohmann-json3-dev
    clang libclang-rt-dev
)
if [[ "${1:-}" == "--windows" ]]; then
    packages+=(g++-mingw-w64-x86-64 wine64)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    echo "setup: everything is installed"
    exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
