#!/usr/bin/env bash
# Sets up a fresh machine, builds the plug-in in Release, installs the VST3
# bundle into ~/.vst3, and renders the built-in demo through the whole station
# with lumiro-render: a sung phrase, looped after two bars, with pitch
# correction and, from the loop on, the sub-octave.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLUMIRO_BUILD_TESTS=OFF -DLUMIRO_BUILD_TOOLS=ON
cmake --build build/release -j"$jobs"

bundle=$(find build/release -maxdepth 4 -name '*.vst3' -type d | head -n 1)
mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/$(basename "$bundle")"
cp -r "$bundle" "$HOME/.vst3/"
echo "Installed $HOME/.vst3/$(basename "$bundle")"

mkdir -p out
build/release/tools/lumiro-render/lumiro-render \
    -o out/lumiro-demo.wav --plot out/lumiro-demo.png \
    --seconds 8 --tail 4 --set atOn=on --set loopSync=on \
    --at 0 rec --at 4 rec --at 4 octOn=on
echo "Demo written to $PWD/out/lumiro-demo.wav (waveforms in out/lumiro-demo.png)"
