#!/usr/bin/env bash
# Sets up a fresh machine, builds the plug-in in Release and installs the
# VST3 bundle into ~/.vst3.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLUMIRO_BUILD_TESTS=OFF
cmake --build build/release -j"$jobs"

bundle=$(find build/release -maxdepth 4 -name '*.vst3' -type d | head -n 1)
mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/$(basename "$bundle")"
cp -r "$bundle" "$HOME/.vst3/"
echo "Installed $HOME/.vst3/$(basename "$bundle")"
