#!/bin/sh
# kelo-host against ffmpeg's float processing chain and against kelo's own
# FilterProc alone, on the same 1920 x 1080 clips, in one run, with the
# ratios at the end. Every contender writes Y4M to a file.
#
#   sh bench/side_by_side.sh [--frames N] [--runs N] [BIN_DIR...]
#
# Each contender runs --runs times (default 3) and its median counts, which
# steadies the figures on a shared machine.
# Each BIN_DIR holds kelo-host, kelo.auf, kelo.fx and kelo_filter_bench
# (default build/linux/bin); several are measured in turn on each clip, so
# a build before and after a change can be compared in the same run.
# ffmpeg makes the clips (testsrc2, 4:4:4 and 4:2:0) and is the peer; without
# it the script says so and measures kelo alone on a 4:4:4 clip of the
# built-in test chart.
set -eu

frames=60
runs=3
while [ $# -gt 0 ]; do
  case $1 in
    --frames) frames=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) break ;;
  esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$here/build/linux/bin"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelo-side-by-side.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"

# The median of the seconds that `runs` runs of a command took, output
# thrown away.
seconds() {
  : >"$work/times"
  i=0
  while [ $i -lt "$runs" ]; do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    awk "BEGIN { print $end - $start }" >>"$work/times"
    i=$((i + 1))
  done
  sort -g "$work/times" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}
fps() { awk "BEGIN { printf \"%.1f\", $frames / ($1) }"; }
ratio() { awk "BEGIN { printf \"%.2f\", ($1) / ($2) }"; }

settings='--set R(gain)=20 --set G(gamm)=30 --set Y(offs)=8'

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

for layout in $layouts; do
  clip="$work/clip-$layout.y4m"
  out="$work/out.y4m"
  echo "== 1920x1080 $layout, $frames frames, each contender writing Y4M"
  if [ $have_ffmpeg = 1 ]; then
    copy=$(seconds ffmpeg -y -loglevel error -i "$clip" -f yuv4mpegpipe "$out")
    chain=$(seconds ffmpeg -y -loglevel error -i "$clip" -vf \
      "format=gbrpf32le,colorlevels=rimin=0.02:gimin=0.02:bimin=0.02:romax=0.9,format=$layout" \
      -f yuv4mpegpipe "$out")
    printf '%-40s %8s fps\n' "ffmpeg, decode and encode only" "$(fps "$copy")"
    printf '%-40s %8s fps\n' "ffmpeg float processor chain" "$(fps "$chain")"
  fi
  for bin in "$@"; do
    # shellcheck disable=SC2086
    f32=$(seconds "$bin/kelo-host" --quiet $settings "$clip" "$out")
    # shellcheck disable=SC2086
    f16=$(seconds "$bin/kelo-host" --quiet $settings --set F16=1 "$clip" "$out")
    alone=$("$bin/kelo_filter_bench" --benchmark_filter='BM_FilterFrame/0/0/0/1/' --benchmark_min_time=1 \
      --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
      awk -F, '/FilterFrame.*_median/ { print $3 / 1000 }')
    printf '%-40s %8s fps\n' "kelo-host F32 ($bin)" "$(fps "$f32")"
    printf '%-40s %8s fps\n' "kelo-host F16" "$(fps "$f16")"
    printf '%-40s %8s fps\n' "kelo FilterProc alone, F32 (benchmark)" "$(fps "$alone * $frames")"
    if [ $have_ffmpeg = 1 ]; then
      echo "  kelo-host F32 / ffmpeg float chain:     $(ratio "$chain" "$f32")"
    fi
    echo "  kelo-host F16 / kelo-host F32:          $(ratio "$f32" "$f16")"
    echo "  kelo-host F32 / FilterProc alone:       $(ratio "$alone * $frames" "$f32")"
  done
done
