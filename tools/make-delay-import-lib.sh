#!/bin/sh
# make-delay-import-lib.sh <nm> <dlltool> <import library> <dll name> <output>:
# writes a delay-import library for <dll name> with every function the import library
# names; linked in its place, the DLL is loaded at the first call instead of at start-up.
set -eu
nm=$1 dlltool=$2 import_library=$3 dll=$4 output=$5
def=$output.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" "$import_library" | sed -n 's/^.* I __imp_//p' | sort -u
} >"$def"
"$dlltool" --input-def "$def" --output-delaylib "$output"
