#!/bin/sh
# kelo-host against ffmpeg's float processing chain and against kelo's own
# FilterProc alone, on the same 1920 x 1080 clips, in one run, with the
# ratios at the end. Every contender writes Y4M to a file.
#
#   sh bench/side_by_side.sh [--frames N] [--runs N] [--jobs "N..."] [BIN_DIR...]
#
# Each BIN_DIR holds kelo-host, kelo.auf, kelo.fx and kelo_filter_bench
# (default build/linux/bin); several can be given, so that a build before and
# after a change are compared in the same run. The contenders take turns,
# one run each per round, for --runs rounds (default 3), and each one's
# median counts: on a shared machine every contender meets the same load.
# kelo-host runs with its default number of jobs; --jobs adds, for each N
# listed, kelo-host F32 of the last BIN_DIR with --jobs N and ffmpeg's float
# chain with -filter_threads N (the scaling of several plug-ins against
# ffmpeg's own threads).
# ffmpeg makes the clips (testsrc2, 4:4:4 and 4:2:0) and is the peer; without
# it the script says so and measures kelo alone on a 4:4:4 clip of the
# built-in test chart.
set -eu

frames=60
runs=3
jobs=""
while [ $# -gt 0 ]; do
  case $1 in
    --frames) frames=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) break ;;
  esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$here/build/linux/bin"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelo-side-by-side.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"

settings="--set R(gain)=20 --set G(gamm)=30 --set Y(offs)=8"

if command -v ffmpeg >/dev/null 2>&1; then
  have_ffmpeg=1
  layouts="yuv444p yuv420p"
  for layout in $layouts; do
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
      -pix_fmt "$layout" -f yuv4mpegpipe "$work/clip-$layout.y4m"
  done
else
  have_ffmpeg=0
  layouts="yuv444p"
  echo "ffmpeg not found: skipped the ffmpeg contenders; kelo alone on the test chart"
  # The chart comes out as a PNG, and a PNG written as Y4M is one 4:4:4
  # frame (every track at 0 on both trips).
  (cd "$work" && "$1/kelo-host" --quiet && "$1/kelo-host" --quiet kelo-out.png chart.y4m)
  header=$(head -n 1 "$work/chart.y4m")
  { echo "$header"; i=0; while [ $i -lt "$frames" ]; do tail -n +2 "$work/chart.y4m"; i=$((i + 1)); done; } \
    >"$work/clip-yuv444p.y4m"
fi

# Contender n: label_n, and run_n, a command line whose run is timed; or,
# for the benchmark, bench_n, a kelo_filter_bench whose time a frame is read.
count=0
contender() {
  count=$((count + 1))
  eval "label_$count=\$1 run_$count=\$2 bench_$count=\${3:-}"
}

# Seconds for the whole clip, one run of contender $1.
measure() {
  eval "run=\$run_$1 bench=\$bench_$1"
  if [ -n "$bench" ]; then
    "$bench" --benchmark_filter='BM_FilterFrame/0/0/0/1/' --benchmark_min_time=1 --benchmark_format=csv \
      2>/dev/null | awk -F, -v frames="$frames" '/FilterFrame/ { print $3 / 1000 * frames }'
    return
  fi
  start=$(date +%s.%N)
  sh -c "$run" >/dev/null 2>&1 || { echo "failed: $run" >&2; exit 1; }
  end=$(date +%s.%N)
  awk "BEGIN { print $end - $start }"
}

median() { sort -g "$work/times-$1" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
fps() { awk "BEGIN { printf \"%.1f\", $frames / ($1) }"; }
ratio() { awk "BEGIN { printf \"%.2f\", ($1) / ($2) }"; }

for layout in $layouts; do
  clip="$work/clip-$layout.y4m"
  out="$work/out.y4m"
  count=0
  chain="format=gbrpf32le,colorlevels=rimin=0.02:gimin=0.02:bimin=0.02:romax=0.9,format=$layout"
  if [ $have_ffmpeg = 1 ]; then
    contender "ffmpeg, decode and encode only" "ffmpeg -y -loglevel error -i '$clip' -f yuv4mpegpipe '$out'"
    contender "ffmpeg float processor chain" "ffmpeg -y -loglevel error -i '$clip' -vf '$chain' \
-f yuv4mpegpipe '$out'"
  fi
  quoted_settings=$(echo "$settings" | sed "s/--set \([^ ]*\)/--set '\1'/g")
  for bin in "$@"; do
    contender "kelo-host F32 ($bin)" "'$bin/kelo-host' --quiet $quoted_settings '$clip' '$out'"
    contender "kelo-host F16 ($bin)" "'$bin/kelo-host' --quiet $quoted_settings --set F16=1 '$clip' '$out'"
    contender "kelo FilterProc alone, F32 ($bin)" "" "$bin/kelo_filter_bench"
  done
  # After the fixed contenders, so that the ratios below find them by number;
  # for the last BIN_DIR only, since a build from before --jobs has none.
  eval "last=\${$#}"
  for n in $jobs; do
    contender "kelo-host F32 --jobs $n ($last)" "'$last/kelo-host' --quiet $quoted_settings --jobs $n '$clip' '$out'"
    [ $have_ffmpeg = 0 ] || contender "ffmpeg float chain, -filter_threads $n" \
      "ffmpeg -y -loglevel error -i '$clip' -filter_threads $n -vf '$chain' -f yuv4mpegpipe '$out'"
  done

  round=0
  while [ $round -lt "$runs" ]; do
    i=1
    while [ $i -le $count ]; do
      measure $i >>"$work/times-$i"
      i=$((i + 1))
    done
    round=$((round + 1))
  done

  echo "== 1920x1080 $layout, $frames frames, each contender writing Y4M; medians of $runs runs"
  i=1
  while [ $i -le $count ]; do
    eval "seconds_$i=\$(median $i)"
    eval "printf '%-60s %8s fps\n' \"\$label_$i\" \"\$(fps \$seconds_$i)\""
    i=$((i + 1))
  done
  first=1
  [ $have_ffmpeg = 0 ] || first=3
  for bin in "$@"; do
    eval "f32=\$seconds_$first f16=\$seconds_$((first + 1)) alone=\$seconds_$((first + 2))"
    echo "  $bin:"
    [ $have_ffmpeg = 0 ] || echo "    kelo-host F32 / ffmpeg float chain:   $(ratio "$seconds_2" "$f32")"
    echo "    kelo-host F16 / kelo-host F32:        $(ratio "$f32" "$f16")"
    echo "    kelo-host F32 / FilterProc alone:     $(ratio "$alone" "$f32")"
    first=$((first + 3))
  done
  # first is now the first --jobs contender, each followed by ffmpeg's.
  alone=$((3 * $#))
  [ $have_ffmpeg = 0 ] || alone=$((alone + 2))
  eval "alone=\$seconds_$alone"
  for n in $jobs; do
    eval "kelo=\$seconds_$first peer=\$seconds_$((first + 1))"
    echo "  --jobs $n, $last:"
    [ $have_ffmpeg = 0 ] || echo "    kelo-host / ffmpeg, -filter_threads $n: $(ratio "$peer" "$kelo")"
    echo "    kelo-host / FilterProc alone:       $(ratio "$alone" "$kelo")"
    first=$((first + 1))
    [ $have_ffmpeg = 0 ] || first=$((first + 1))
  done
  rm -f "$work"/times-*
done
