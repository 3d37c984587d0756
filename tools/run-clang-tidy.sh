#!/bin/bash
# Runs clang-tidy (.clang-tidy at the top) over our own sources, with the compile commands
# of a configured build tree. clang parses them as the mingw-w64 target with the cross
# compiler's C++ headers.
#
#   tools/run-clang-tidy.sh [build dir] [files...]   default: out/build, every product file
# Exits non-zero on any finding (.clang-tidy makes every warning an error). JOBS sets the
# parallel clang-tidy processes (default: the processor count).
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${1:-$REPO/out/build}
shift || true
GCC_INCLUDE=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include
ARGS=(--quiet -p "$BUILD" --extra-arg=--target=x86_64-w64-mingw32
      --extra-arg=-isystem"$GCC_INCLUDE/c++"
      --extra-arg=-isystem"$GCC_INCLUDE/c++/x86_64-w64-mingw32"
      --extra-arg=-Wno-unknown-warning-option)
if [ $# -eq 0 ]; then
  mapfile -t files < <(cd "$REPO" && git ls-files 'base/*.cc' 'crypto/*.cc' 'components/*.cc' \
                         'desktop/*.cc' 'crash/*.cc' |
                         grep -Ev '(_unittest|_test_util|_test_helper|_test_dll)\.cc$')
  set -- "${files[@]/#/$REPO/}"
fi
printf '%s\n' "$@" | xargs -P "${JOBS:-$(nproc)}" -n 4 clang-tidy "${ARGS[@]}"
