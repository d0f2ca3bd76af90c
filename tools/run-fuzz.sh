#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 45) from the seed corpus in tests/fuzz/corpus.
# New corpus entries stay in the build folder.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-45}
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$(nproc)"
for reader in y4m png; do
  corpus=build/linux-fuzz/corpus/$reader
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/$reader/* "$corpus"/
  dictionary=""
  [ -f tests/fuzz/$reader.dict ] && dictionary="-dict=tests/fuzz/$reader.dict"
  echo "fuzzing the $reader reader for $seconds s"
  build/linux-fuzz/bin/fuzz_${reader}_reader -max_total_time="$seconds" -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix=build/linux-fuzz/ -print_final_stats=1 $dictionary "$corpus"
done
