#!/bin/sh
# Sets up, builds and runs every test suite: the Linux build, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows cross
# builds with their checks under Wine (32-bit, the product, skipped where the
# kernel runs no 32-bit programs; 64-bit, which runs everywhere), and a
# bounded fuzzing run of the file readers and the effect parser.
#
# Every suite runs even when an earlier one fails. The run ends with one line
# per suite and a last line "N passed, N failed, N skipped"; the exit status
# is 1 when anything failed. Each suite's results are kept in
# build/test-results/.
set -u
cd "$(dirname "$0")/.."
sh tools/setup.sh test || exit 1
jobs=$(nproc)
results=$PWD/build/test-results
rm -rf "$results"
mkdir -p "$results"

# Wall time of a suite, build included, as whole seconds.
started() { date +%s >"$results/$1.seconds"; }
finished() { echo $(($(date +%s) - $(cat "$results/$1.seconds"))) >"$results/$1.seconds"; }

for preset in linux linux-asan windows-i686 windows-x86_64; do
  echo "== $preset (building; log in build/test-results/$preset.build.log)"
  started "$preset"
  # The Windows checks share one display pool and one wineserver: one at a time.
  case $preset in
    windows-*) parallel=1 ;;
    *) parallel=$jobs ;;
  esac
  if cmake --preset "$preset" >"$results/$preset.configure.log" 2>&1 &&
     cmake --build --preset "$preset" -j "$jobs" >"$results/$preset.build.log" 2>&1; then
    ctest --preset "$preset" -j "$parallel" --output-junit "$results/$preset.xml"
  else
    cat "$results/$preset.configure.log" "$results/$preset.build.log" 2>/dev/null |
      tail -n 30 | tee "$results/$preset.build"
  fi
  finished "$preset"
done

echo "== fuzz"
started fuzz
for target in y4m_reader png_reader fx_parser; do
  if sh tools/run-fuzz.sh "$target"; then
    echo "$target passed" >>"$results/fuzz.runs"
  else
    echo "$target failed" >>"$results/fuzz.runs"
  fi
done
finished fuzz

echo
python3 tools/test-summary.py "$results" linux linux-asan windows-i686 windows-x86_64 fuzz
