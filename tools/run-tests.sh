#!/bin/sh
# Sets up, builds and runs every test: the Linux build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows cross build
# with its checks under Wine (reported as skipped where Wine is missing), and
# a bounded fuzzing run of the file readers and the effect parser.
set -eu
cd "$(dirname "$0")/.."
sh tools/setup.sh --tests
jobs=$(nproc)
for preset in linux linux-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
ctest --preset windows-i686
sh tools/run-fuzz.sh
