#!/bin/sh
# Sets up, builds and runs kelo on its built-in default input.
set -eu
cd "$(dirname "$0")/.."
sh tools/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"
echo "Built into build/linux/bin."
