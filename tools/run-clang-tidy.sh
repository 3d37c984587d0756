#!/bin/bash
# Runs clang-tidy (.clang-tidy at the top) over our own sources, with the compile commands
# of a configured build tree. clang parses them as the mingw-w64 target with the cross
# compiler's C++ headers.
#
#   tools/run-clang-tidy.sh [--ci] [build dir] [files...]   default: out/build, every product file
# Without --ci every check of .clang-tidy runs (about 20 minutes of processor time, mostly
# clang-analyzer). --ci runs only the checks the test run enforces: dropped results of
# fallible functions, use after move and functions over 80 lines (a few minutes). Both
# report clang's own warnings under the build's warning flags as well: among them a dropped
# [[nodiscard]] result of a virtual call, which gcc does not diagnose.
# Exits non-zero on any finding (.clang-tidy makes every warning an error). JOBS sets the
# parallel clang-tidy processes (default: the processor count).
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
CHECKS=()
if [ "${1:-}" = --ci ]; then
  # Appended to the list of .clang-tidy, so "-*" first drops everything it turns on.
  CHECKS=(--checks=-*,bugprone-unused-return-value,bugprone-use-after-move,readability-function-size)
  shift
fi
BUILD=${1:-$REPO/out/build}
shift || true
GCC_INCLUDE=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include
ARGS=(--quiet -p "$BUILD" "${CHECKS[@]}" --extra-arg=--target=x86_64-w64-mingw32
      --extra-arg=-isystem"$GCC_INCLUDE/c++"
      --extra-arg=-isystem"$GCC_INCLUDE/c++/x86_64-w64-mingw32"
      --extra-arg=-Wno-unknown-warning-option)
if [ $# -eq 0 ]; then
  mapfile -t files < <(python3 "$REPO/tools/product_sources.py" "$REPO" .cc)
  [ ${#files[@]} -gt 0 ] || { echo "no product files found in $REPO" >&2; exit 1; }
  set -- "${files[@]/#/$REPO/}"
fi
printf '%s\n' "$@" | xargs -P "${JOBS:-$(nproc)}" -n 4 clang-tidy "${ARGS[@]}"
