#!/bin/sh
# Checks a Windows DLL's export and import tables, as the host and a bare
# Windows installation see them:
#   check_dll.sh OBJDUMP DLL --exports "NAME..." --imports "DLL..."
# The exports must be exactly NAME... (undecorated, with ordinals from 1 in
# that order, none by ordinal only); each DLL... must be imported; no MinGW
# runtime DLL may be, since a user's machine does not have them.
set -eu
objdump=$1 dll=$2
shift 2
exports= imports=
while [ $# -gt 0 ]; do
  case $1 in
    --exports) exports=$2; shift 2 ;;
    --imports) imports=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

dump=$("$objdump" -p "$dll")
failures=0
fail() { echo "FAIL: $(basename "$dll"): $*"; failures=$((failures + 1)); }

base=$(echo "$dump" | sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p')
addresses=$(echo "$dump" | sed -n '/^Export Address Table --/,/^$/p' | grep -c 'Export RVA' || true)
actual=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
  awk -v base="${base:-1}" '{ printf "%s@%d ", $2, $1 + base }')
expected=$(i=1; for name in $exports; do printf '%s@%d ' "$name" "$i"; i=$((i + 1)); done)
[ "$actual" = "$expected" ] ||
  fail "exports (name@ordinal): expected '${expected% }', actual '${actual% }'"
[ "$addresses" -eq "$(echo $exports | wc -w)" ] ||
  fail "export address table has $addresses entries, expected $(echo $exports | wc -w)"

imported=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
for name in $imports; do
  lower=$(echo "$name" | tr 'A-Z' 'a-z')
  echo "$imported" | grep -qx "$lower" ||
    fail "does not import $name (imports: $(echo $imported))"
done
for runtime in $(echo "$imported" | grep -E '^(libgcc|libstdc\+\+|libwinpthread|libgomp|libssp|mingwm)'); do
  fail "imports the MinGW runtime DLL $runtime"
done

[ "$failures" -eq 0 ] && echo "ok: $(basename "$dll") exports '${expected% }', imports $(echo $imported)"
[ "$failures" -eq 0 ]
