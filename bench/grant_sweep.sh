#!/bin/bash
# A hand-run benchmark of one folder grant by the folder-permission helper, with and
# without folders named as elevated runs' in the Windows folder's Temp. Not a test.
#   bench/grant_sweep.sh [planted=5000]       after scripts/setup.sh
#   ROUNDS=7 bench/grant_sweep.sh             more paired rounds (default 5)
#   INSTALLER=/some/velum_installer.exe ...   another build's host (default out/build's)
# Each round is a pair, in alternating order:
#   A: a grant of a new folder, C:\Program Files\VelumBench<n>a, with Temp holding none;
#   B: the same for VelumBench<n>b after planting <planted> empty folders
#      "VelumInstaller-<random GUID>" in C:\windows\temp (fresh each round, removed after).
# The helper is the host itself with the switches the installer gives it
# (--set-folder-permission, --permissions-for-user with the qualified user name,
# --permanent-permissions, --initial-pid), timed from its start to its end. The requesting
# process is a stand-in (crash_inject.exe --hold) that makes the grant's two events and
# stays up, as the installation does; it also keeps the prefix's server up, so every
# helper starts warm. The helper starts its own crash reporter (no --crash-reporter-pid),
# as when run by hand.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${BUILD:-$REPO/out/build}
INSTALLER=${INSTALLER:-$BUILD/bin/velum_installer.exe}
HOLDER=$BUILD/bin/crash_inject.exe
PLANTED=${1:-5000}
ROUNDS=${ROUNDS:-5}
WORK=${GRANT_BENCH_DIR:-$REPO/out/bench/grant}
PREFIX=$WORK/prefix
TEMP_DIR=$PREFIX/drive_c/windows/temp
WINESERVER=/usr/lib/wine/wineserver
for f in "$INSTALLER" "$HOLDER" "$BUILD/wine-run.sh"; do
  [ -e "$f" ] || { echo "grant_sweep: $f is missing (run scripts/setup.sh)" >&2; exit 2; }
done

wine() { VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$@"; }
holder_pid=
stop() {
  [ -z "$holder_pid" ] || kill "$holder_pid" 2>/dev/null || true
  WINEPREFIX=$PREFIX timeout 30 "$WINESERVER" -k 2>/dev/null || true
}
trap stop EXIT

LOAD_BEFORE=$(cat /proc/loadavg)
echo "=== a Wine prefix of its own: $PREFIX"
rm -rf "$WORK"
mkdir -p "$WORK/logs"
# Booting the prefix, and the qualified name the installer would pass (DOMAIN\user).
USER_NAME=$(wine cmd /c 'echo %USERDOMAIN%\%USERNAME%' | tr -d '\r')
WINEPREFIX=$PREFIX "$WINESERVER" -w
WINEPREFIX=$PREFIX "$WINESERVER" -p
[ -d "$TEMP_DIR" ] || { echo "grant_sweep: no $TEMP_DIR in the prefix" >&2; exit 1; }
echo "user: $USER_NAME; helper: $INSTALLER; $ROUNDS rounds, $PLANTED planted folders"

# The run folders in Temp: the planted ones and any the helper kept (a failed run's log).
run_folders() { find "$TEMP_DIR" -maxdepth 1 -name 'VelumInstaller-*' -type d | wc -l; }
plant() {
  python3 - "$TEMP_DIR" "$1" <<'EOF'
import os, sys, uuid
for _ in range(int(sys.argv[2])):
    os.mkdir(os.path.join(sys.argv[1], "VelumInstaller-" + str(uuid.uuid4())))
EOF
}
# Temp emptied and made anew: a directory that held thousands of entries keeps its size
# on ext4, and A must not list a grown one.
clear_temp() {
  find "$TEMP_DIR" -maxdepth 1 -name 'VelumInstaller-*' -exec rm -rf {} +
  if [ -z "$(ls -A "$TEMP_DIR")" ]; then
    rmdir "$TEMP_DIR" && mkdir "$TEMP_DIR"
  fi
}

# One grant of C:\Program Files\VelumBench<name>; prints its wall time in seconds.
# Fails the benchmark when the helper did not grant: a non-zero exit, no folder, or a
# log folder it kept (kept only when it failed or logged an error).
grant() {
  local name=$1 pid=$2 planted=$3 t0 t1 rc=0
  local folder="C:\\Program Files\\VelumBench$name"
  local before
  before=$(run_folders)
  t0=$(date +%s.%N)
  wine "$INSTALLER" "--set-folder-permission=$folder" "--permissions-for-user=$USER_NAME" \
    --permanent-permissions "--initial-pid=$pid" > "$WORK/logs/$name.out" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  local kept=$(( $(run_folders) - before ))
  if [ $rc -ne 0 ] || [ ! -d "$PREFIX/drive_c/Program Files/VelumBench$name" ] ||
     [ $kept -ne 0 ]; then
    echo "grant_sweep: the grant of $folder failed (exit $rc, $kept log folders kept; see" \
      "$WORK/logs/$name.out and $TEMP_DIR)" >&2
    exit 1
  fi
  if [ "$planted" -gt 0 ]; then
    echo "$(run_folders) of $planted planted left" > "$WORK/logs/$name.left"
  fi
  echo "$t0 $t1" | awk '{ printf "%.3f", $2 - $1 }'
}

A_TIMES=() B_TIMES=()
for k in $(seq 1 "$ROUNDS"); do
  # The requester: both folders' events, "granted" and "undo", made before the helper.
  events=()
  for side in a b; do
    events+=("Local\\VelumInstaller/GiveInstallPermission/C:/Program Files/VelumBench$k$side"
             "Local\\VelumInstaller/GiveInstallPermission/Undo/C:/Program Files/VelumBench$k$side")
  done
  wine "$HOLDER" --hold "${events[@]}" > "$WORK/logs/holder-$k.out" 2>&1 &
  holder_pid=$!
  for _ in $(seq 1 600); do
    grep -q '^[0-9]' "$WORK/logs/holder-$k.out" 2>/dev/null && break
    sleep 0.1
  done
  requester=$(grep -m1 '^[0-9]' "$WORK/logs/holder-$k.out" | tr -d '\r') ||
    { echo "grant_sweep: the requesting stand-in did not start" >&2; exit 1; }

  clear_temp
  order="a b"
  [ $((k % 2)) -eq 1 ] || order="b a"
  for side in $order; do
    if [ $side = a ]; then
      a=$(grant "${k}a" "$requester" 0)
    else
      plant "$PLANTED"
      b=$(grant "${k}b" "$requester" "$PLANTED")
      clear_temp
    fi
  done
  kill "$holder_pid" 2>/dev/null || true
  wait "$holder_pid" 2>/dev/null || true
  holder_pid=
  A_TIMES+=("$a") B_TIMES+=("$b")
  printf 'round %d (%s first): A %s s   B %s s   (%s)\n' "$k" "${order%% *}" "$a" "$b" \
    "$(cat "$WORK/logs/${k}b.left")"
done

# "lo..hi s" and the median of the times given.
range() {
  printf '%s\n' "$@" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s..%s s", lo, hi }'
}
median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%s s", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
summary() { echo "$(range "$@"), median $(median "$@")"; }
printf '%-30s %s\n' "A (no planted folders):" "$(summary "${A_TIMES[@]}")"
printf '%-30s %s\n' "B ($PLANTED planted folders):" "$(summary "${B_TIMES[@]}")"
echo "load average before: $LOAD_BEFORE"
echo "load average after:  $(cat /proc/loadavg)"
