#!/bin/sh
# Runs a 32-bit Windows program under Wine, on a private virtual X display,
# in a private Wine prefix, with a time limit so that nothing can hang a
# headless run (a message box nobody answers, a stuck device).
#
#   wine-run.sh --prefix DIR --init
#       creates the prefix DIR (32-bit) unless it is already complete
#   wine-run.sh --prefix DIR [--timeout SECONDS] PROGRAM.exe [ARGS...]
#       runs PROGRAM in that prefix; its exit status is returned
#
# Exits with 77 (the tests' skip code) when Wine, its 32-bit loader or
# xvfb-run is not installed; tools/setup.sh installs them.
set -eu

prefix=
limit=${KELO_WINE_TIMEOUT:-60}
init=false
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --init) init=true; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || { ! $init && [ $# -eq 0 ]; }; then
  echo "usage: $0 --prefix DIR (--init | [--timeout SECONDS] PROGRAM [ARGS...])" >&2
  exit 2
fi

case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;  # Wine takes absolute prefixes only
esac

missing=
command -v wine >/dev/null 2>&1 || missing="$missing wine"
[ -x /usr/lib/wine/wine ] || missing="$missing wine32:i386"
command -v xvfb-run >/dev/null 2>&1 || missing="$missing xvfb"
if [ -n "$missing" ]; then
  echo "SKIPPED: not installed:$missing (run tools/setup.sh as root)"
  exit 77
fi

# No Mono or Gecko installer may prompt; Wine's own chatter stays off unless
# the caller asks for it with WINEDEBUG.
# KELO_WINE_DLL_OVERRIDES adds overrides of its own (d3dx9_30=d: no D3DX).
export WINEPREFIX="$prefix" WINEARCH=win32
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
    wineserver -k 2>/dev/null || true
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
    run_limited 120 wineboot --init
    wineserver -w
    touch "$prefix/.complete"
    echo "created Wine prefix $prefix in $(($(date +%s) - start)) s"
  fi
  # The plug-in links these two; Wine's own builds come with wine32.
  for dll in d3d9.dll d3dx9_30.dll; do
    if [ ! -f "$prefix/drive_c/windows/system32/$dll" ]; then
      echo "FAIL: $dll is missing from the Wine prefix $prefix (is wine32:i386 complete?)"
      exit 1
    fi
  done
  exit 0
fi

run_limited "$limit" wine "$@"
