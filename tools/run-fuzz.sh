#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 45) from the seed corpus in tests/fuzz/corpus:
#   run-fuzz.sh [TARGET...]   y4m_reader, png_reader, fx_parser (default: all)
# New corpus entries stay in the build folder. Every target runs even when
# one finds a fault; the exit status is then 1.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-45}
[ $# -gt 0 ] || set -- y4m_reader png_reader fx_parser
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$(nproc)"
failed=
for target in "$@"; do
  kind=${target%_*}
  corpus=build/linux-fuzz/corpus/$kind
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/$kind/* "$corpus"/
  dictionary=""
  [ -f tests/fuzz/$kind.dict ] && dictionary="-dict=tests/fuzz/$kind.dict"
  echo "fuzzing $target for $seconds s"
  build/linux-fuzz/bin/fuzz_$target -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix=build/linux-fuzz/ -print_final_stats=1 $dictionary "$corpus" ||
    failed="$failed $target"
done
if [ -n "$failed" ]; then
  echo "run-fuzz: faults found by:$failed (inputs in build/linux-fuzz/)" >&2
  exit 1
fi
