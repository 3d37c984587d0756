#!/bin/bash
# No product file (tests aside) passes 800 lines: one that does holds two concepts and is
# split along its seam.
#   tools/check-file-sizes.sh [repo]
set -euo pipefail
REPO=${1:-$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)}
LIMIT=800
mapfile -t files < <(bash "$REPO/tools/product-files.sh" "$REPO" '*.cc' '*.h' '*.c')
[ ${#files[@]} -gt 0 ] || { echo "no product files found in $REPO" >&2; exit 1; }
status=0
for file in "${files[@]}"; do
  lines=$(wc -l < "$REPO/$file")
  if [ "$lines" -gt "$LIMIT" ]; then
    echo "$file: $lines lines (at most $LIMIT)"
    status=1
  fi
done
exit $status
