#!/bin/bash
# Sets everything up, builds, and runs the installer host under Wine.
#   scripts/run.sh [installer switches]     (default: --version)
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
OUT=${OUT:-$REPO/out}
BUILD=${BUILD:-$OUT/build}
"$REPO/scripts/setup.sh"
[ $# -gt 0 ] || set -- --version
echo "=== running velum_installer.exe $*"
exec "$BUILD/wine-run.sh" "$BUILD/bin/velum_installer.exe" "$@"
