#!/bin/bash
# Lists the product's own source files (no tests, test helpers or test utilities), relative
# to the repository, for the checks that hold product code to a stricter rule.
#   tools/product-files.sh <repo> <pattern>...   e.g. '*.cc' '*.h'
set -euo pipefail
REPO=$1
shift
paths=()
for dir in base crypto components desktop crash; do
  for pattern in "$@"; do paths+=("$dir/$pattern"); done
done
cd "$REPO" && git ls-files -- "${paths[@]}" |
  grep -Ev '(_unittest|_test_util|_test_helper|_test_dll)\.(cc|h)$'
