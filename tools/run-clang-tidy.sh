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
#
#   tools/run-clang-tidy.sh --self-test
# runs the --ci checks over small planted files in a scratch folder (with a copy of
# .clang-tidy and compile commands of its own): each planted fault must fail the run, the
# clean file must pass it.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
if [ "${1:-}" = --self-test ]; then
  SCRATCH=$(mktemp -d)
  trap 'rm -rf "$SCRATCH"' EXIT
  cp "$REPO/.clang-tidy" "$SCRATCH/"
  long_body=$(for i in $(seq 1 85); do printf '  total += %d;\n' "$i"; done)
  declare -A CASES=(
    [clean]='#include <string>
int Length(const std::string& s) { return static_cast<int>(s.size()); }'
    [dropped_remove]='#include <algorithm>
#include <vector>
void Drop(std::vector<int>& v) { std::remove(v.begin(), v.end(), 1); }'
    [use_after_move]='#include <string>
#include <utility>
int Use(std::string s) { std::string t = std::move(s); return static_cast<int>(t.size() + s.size()); }'
    [long_function]="int Long() {
  int total = 0;
$long_body
  return total;
}"
    [dropped_virtual_nodiscard]='struct Step { [[nodiscard]] virtual bool Run(); };
void Call(Step* step) { step->Run(); }'
  )
  entries=()
  for name in "${!CASES[@]}"; do
    printf '%s\n' "${CASES[$name]}" > "$SCRATCH/$name.cc"
    entries+=("{\"directory\": \"$SCRATCH\", \"file\": \"$SCRATCH/$name.cc\", \"command\": \"x86_64-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -c $SCRATCH/$name.cc\"}")
  done
  (IFS=,; printf '[%s]\n' "${entries[*]}") > "$SCRATCH/compile_commands.json"
  wrong=0
  for name in "${!CASES[@]}"; do
    if JOBS=1 "$0" --ci "$SCRATCH" "$SCRATCH/$name.cc" > "$SCRATCH/$name.out" 2>&1; then
      found=no
    else
      found=yes
    fi
    expected=yes
    [ "$name" = clean ] && expected=no
    if [ "$found" != "$expected" ]; then
      wrong=$((wrong + 1))
      echo "$name: expected a finding: $expected, got: $found"
      cat "$SCRATCH/$name.out"
    fi
  done
  echo "${#CASES[@]} planted cases, $wrong wrong"
  [ "$wrong" -eq 0 ]
  exit
fi
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
