#!/bin/sh
# Builds the effect parser's libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a bounded time, default 60 s.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  platform/d3dx9/fx_lexer.cpp platform/d3dx9/fx_parser.cpp tests/fuzz/fx_parser_fuzz.cpp \
  -o "$out/fx_parser_fuzz"
"$out/fx_parser_fuzz" -max_total_time="$seconds" -timeout=5 -max_len=4096 \
  "$out/corpus" tests/fuzz/corpus
