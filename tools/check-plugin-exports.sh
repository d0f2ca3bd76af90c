#!/bin/sh
# Checks the export and import tables of a built kelo.auf. The Windows DLL
# must be PE32, export GetFilterTable alone, undecorated, at ordinal 1, and
# import d3d9.dll and d3dx9_30.dll but no mingw runtime DLL. The Linux shared
# library must export GetFilterTable alone.
set -eu
auf=$1
fail() { echo "check-plugin-exports: $auf: $*" >&2; exit 1; }

if [ "$(head -c 2 "$auf")" = "MZ" ]; then
  dump=$(i686-w64-mingw32-objdump -p "$auf")
  echo "$dump" | grep -Eq '^Magic[[:space:]]+010b' || fail "not a PE32 image"
  names=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed '1d;/^$/d')
  [ "$(echo "$names" | tr -d '[:space:]')" = "[0]GetFilterTable" ] ||
    fail "exports other than GetFilterTable: $names"
  echo "$dump" | grep -Eq '^Ordinal Base[[:space:]]+1$' || fail "ordinal base is not 1"
  echo "$dump" | grep -Eq '^[[:space:]]+\[ +0\] \+base\[ +1\]' || fail "GetFilterTable is not ordinal 1"
  dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  for needed in d3d9.dll d3dx9_30.dll; do
    echo "$dlls" | grep -qx "$needed" || fail "does not import $needed (imports: $(echo $dlls))"
  done
  if echo "$dlls" | grep -Eq '^(libgcc|libstdc\+\+|libwinpthread|libssp|libatomic)'; then
    fail "imports a mingw runtime DLL (imports: $(echo $dlls))"
  fi
else
  exports=$(nm -D --defined-only "$auf" | awk '{print $NF}')
  [ "$exports" = "GetFilterTable" ] || fail "exports other than GetFilterTable: $(echo $exports)"
fi
echo "check-plugin-exports: $auf: ok"
