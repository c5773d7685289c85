#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
    juce-modules-source cmake g++ pkg-config ccache
    libgtest-dev libbenchmark-dev libflac-dev
    xvfb xauth
    clang libclang-rt-dev llvm
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
