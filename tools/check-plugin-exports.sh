#!/bin/sh
# Checks that the Linux plug-in shows the host GetFilterTable alone; the
# Windows DLL's tables are checked by the windows-i686 test preset.
set -eu
auf=$1
exports=$(nm -D --defined-only "$auf" | awk '{print $NF}')
if [ "$exports" != "GetFilterTable" ]; then
  echo "check-plugin-exports: $auf: exports other than GetFilterTable: $(echo $exports)" >&2
  exit 1
fi
echo "check-plugin-exports: $auf: ok"
