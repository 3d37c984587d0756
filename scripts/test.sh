#!/bin/bash
# Sets everything up, builds, and runs every test under Wine with one Xvfb for the run.
#   scripts/test.sh [extra ctest args]
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
OUT=${OUT:-$REPO/out}
BUILD=${BUILD:-$OUT/build}
JOBS=${JOBS:-$(nproc)}
# One test more than the processors: the e2e_net chain, one case at a time, spends most of
# its time in the fetcher's retry waits, so its slot would otherwise sit idle.
TEST_JOBS=${TEST_JOBS:-$((JOBS + 1))}
"$REPO/scripts/setup.sh"
echo "=== testing"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir "$BUILD" -j "$TEST_JOBS" --output-on-failure --timeout 600 "$@"
