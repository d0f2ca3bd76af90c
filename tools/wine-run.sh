#!/bin/sh
# Runs a Windows program under Wine, on a private virtual X display, in a
# private Wine prefix, with a time limit so that nothing can hang a headless
# run (a message box nobody answers, a stuck device).
#
#   wine-run.sh --prefix DIR [--arch win32|win64] --init
#       creates the prefix DIR for that architecture unless it is complete
#   wine-run.sh --prefix DIR [--arch win32|win64] [--timeout SECONDS] PROGRAM.exe [ARGS...]
#       runs PROGRAM in that prefix; its exit status is returned
#
# win32 (the default) runs the 32-bit loader, win64 the 64-bit one. Both are
# called by their own paths: /usr/bin/wine picks the 32-bit loader whenever
# wine32 is installed, whatever the prefix.
#
# Exits with 77 (the tests' skip code), after one line starting "SKIPPED: ",
# when Wine's loader for the architecture or xvfb-run is not installed
# (tools/setup.sh test installs them), and for win32 when this kernel runs no
# 32-bit programs. KELO_ASSUME_NO_32BIT=1 gives that answer on any kernel, so
# that the skip can be tried where 32-bit programs do run.
set -eu

prefix=
arch=win32
limit=${KELO_WINE_TIMEOUT:-60}
init=false
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --init) init=true; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || { ! $init && [ $# -eq 0 ]; } ||
   { [ "$arch" != win32 ] && [ "$arch" != win64 ]; }; then
  echo "usage: $0 --prefix DIR [--arch win32|win64] (--init | [--timeout SECONDS] PROGRAM [ARGS...])" >&2
  exit 2
fi

case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;  # Wine takes absolute prefixes only
esac

if [ "$arch" = win32 ]; then
  loader=/usr/lib/wine/wine package=wine32:i386
else
  loader=/usr/lib/wine/wine64 package=wine64
fi
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

missing=
[ -x "$loader" ] || missing="$missing $package"
[ -x "$server" ] || missing="$missing wine64"
command -v xvfb-run >/dev/null 2>&1 || missing="$missing xvfb"
if [ -n "$missing" ]; then
  echo "SKIPPED: not installed:$missing (run tools/setup.sh test as root)"
  exit 77
fi

# The kernel alone knows whether it runs 32-bit programs (the emulation can be
# configured off): executing the 32-bit loader then fails with ENOEXEC. The
# exec is Python's, as a shell or execvp would retry the file as a script.
# Any other outcome, a missing python3 included, counts as "yes", so that a
# broken Wine still fails.
kernel_runs_32bit() {
  [ "${KELO_ASSUME_NO_32BIT:-}" != 1 ] || return 1
  answer=0
  python3 -c '
import errno, subprocess, sys
try:
    subprocess.run([sys.argv[1], "--version"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)
except OSError as error:
    sys.exit(3 if error.errno == errno.ENOEXEC else 0)
except subprocess.TimeoutExpired:
    pass
' "$loader" || answer=$?
  [ "$answer" -ne 3 ]
}
if [ "$arch" = win32 ] && ! kernel_runs_32bit; then
  echo "SKIPPED: this kernel runs no 32-bit programs"
  exit 77
fi

# No Mono or Gecko installer may prompt; Wine's own chatter stays off unless
# the caller asks for it with WINEDEBUG.
# KELO_WINE_DLL_OVERRIDES adds overrides of its own (d3dx9_30=d: no D3DX).
export WINEPREFIX="$prefix" WINEARCH="$arch" WINELOADER="$loader" WINESERVER="$server"
export WINEDLLOVERRIDES="mscoree,mshtml=${KELO_WINE_DLL_OVERRIDES:+;$KELO_WINE_DLL_OVERRIDES}"
export WINEDEBUG="${WINEDEBUG:--all}"

# Each run gets its own display; wineserver and the prefix are shared.
run_limited() {
  seconds=$1
  shift
  status=0
  timeout -k 5 "$seconds" xvfb-run -a -s "-screen 0 1024x768x24" "$@" || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "TIMEOUT: $* did not finish within $seconds s" >&2
    "$server" -k 2>/dev/null || true
  fi
  return "$status"
}

if $init; then
  mkdir -p "$(dirname "$prefix")"
  # Concurrent first runs wait for one creation instead of racing.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.complete" ]; then
    rm -rf "$prefix"
    start=$(date +%s)
    run_limited 120 "$loader" wineboot --init
    "$server" -w
    touch "$prefix/.complete"
    echo "created $arch Wine prefix $prefix in $(($(date +%s) - start)) s"
  fi
  # The plug-in links these two; Wine's own builds come with the loader's package.
  for dll in d3d9.dll d3dx9_30.dll; do
    if [ ! -f "$prefix/drive_c/windows/system32/$dll" ]; then
      echo "FAIL: $dll is missing from the Wine prefix $prefix (is $package complete?)"
      exit 1
    fi
  done
  exit 0
fi

run_limited "$limit" "$loader" "$@"
