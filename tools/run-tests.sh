#!/bin/sh
# Sets up, builds and runs every test: the Linux build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows cross build.
set -eu
cd "$(dirname "$0")/.."
sh tools/setup.sh
jobs=$(nproc)
for preset in linux linux-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
sh tools/fuzz-effect-parser.sh 60
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
