#!/bin/sh
# Checks a Windows DLL's kind and its export and import tables, as the host
# and a bare Windows installation see them:
#   check_dll.sh OBJDUMP DLL --format pei-i386|pei-x86-64 --exports "NAME..."
#                --imports "DLL..." [--zip ARCHIVE]
# The DLL must be a PE32 (pei-i386) or PE32+ (pei-x86-64) image as --format
# says; the exports exactly NAME... (undecorated, with ordinals from 1 in
# that order, none by ordinal only); each DLL... must be imported; no MinGW
# runtime DLL may be, since a user's machine does not have them. With --zip,
# DLL names the member of ARCHIVE that is checked, as a user unpacks it.
set -eu
objdump=$1 dll=$2
shift 2
format= exports= imports= zip=
while [ $# -gt 0 ]; do
  case $1 in
    --format) format=$2; shift 2 ;;
    --exports) exports=$2; shift 2 ;;
    --imports) imports=$2; shift 2 ;;
    --zip) zip=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
case $format in
  pei-i386) magic="010b (PE32)" ;;
  pei-x86-64) magic="020b (PE32+)" ;;
  *) echo "--format must be pei-i386 or pei-x86-64" >&2; exit 2 ;;
esac

file=$dll
if [ -n "$zip" ]; then
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  file=$unpacked/$(basename "$dll")
  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
    "$zip" "$dll" >"$file"
fi
dump=$("$objdump" -p "$file")
failures=0
fail() { echo "FAIL: $(basename "$dll")${zip:+ in $(basename "$zip")}: $*"; failures=$((failures + 1)); }

actual_format=$(echo "$dump" | sed -n 's/.*file format \(.*\)$/\1/p' | head -n 1)
actual_magic=$(echo "$dump" | sed -n 's/^Magic[[:space:]]*//p' | tr -s '[:blank:]' ' ')
[ "$actual_format" = "$format" ] && [ "$actual_magic" = "$magic" ] ||
  fail "expected $format, Magic $magic; is $actual_format, Magic $actual_magic"

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

[ "$failures" -eq 0 ] &&
  echo "ok: $(basename "$dll")${zip:+ in $(basename "$zip")} is $format, exports '${expected% }', imports $(echo $imported)"
[ "$failures" -eq 0 ]
