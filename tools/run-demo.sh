#!/bin/sh
# Sets up, builds and runs kelo on its built-in test chart with a visible
# correction: warmer (more red, less blue) and a little brighter. Writes
# build/demo/kelo-out.png (the corrected chart), build/demo/kelo-compare.png
# (before and after, side by side) and build/demo/kelo-scopes.png (their
# scopes on the editor's YC scale).
set -eu
cd "$(dirname "$0")/.."
sh tools/setup.sh demo
cmake --preset linux -DKELO_TESTS=OFF >/dev/null
cmake --build --preset linux -j "$(nproc)"
mkdir -p build/demo
cd build/demo
../linux/bin/kelo-host --stats --set "R(gain)=64" --set "B(gain)=-48" --set "Y(offs)=16" \
  --compare kelo-compare.png --scopes kelo-scopes.png
echo "Wrote build/demo/kelo-out.png, build/demo/kelo-compare.png and build/demo/kelo-scopes.png"
