#!/bin/bash
# Crashes each role of the installer beside a CPU hog and counts the crashes whose whole
# report (a non-empty dump) reached a local crash collector in strict mode (bodies read
# by Content-Length) within a bound. A hand-run benchmark (bench/README.md), not a test.
#   bench/crash_roles.sh [-n ROUNDS] [-r "ROLES"] [-b SECONDS] NAME=BUILD_DIR [NAME=BUILD_DIR...]
# e.g. bench/crash_roles.sh -n 5 before=/work/wt/old/out/build after=out/build
# Rounds alternate the order of the build trees (paired A/B). Roles: silent (the silent
# installer's front end, mid-install), backend (the backend the silent installer starts,
# mid-install), wizard (interactive, on its first page), uninstaller (interactive, on its
# question page), autoupdate (a silent autoupdate over an installation, mid-update) and
# helper (the folder-permission helper waiting for its package). Each build tree gets its
# own Wine prefix and collector under $CRASH_BENCH_DIR (default /tmp/velum-crash-bench).
# Everything under Wine and the hog run on cores $CRASH_BENCH_CORES (default 0,1); the
# crash is a thread started at address 0x8 in the role's process (crash_inject.exe, taken
# from $CRASH_INJECT or else the first build tree that has it). A crash not reported is
# told apart by its reporter's log: "lost:dump" (no dump written), "lost:upload" (the
# upload failed), "lost" (neither logged within the bound). CRASH_BENCH_PLAIN=1 runs the
# collector plain (a chunked body is read chunked even when a Content-Length is given).
set -uo pipefail
ROUNDS=5
ROLES="silent backend wizard uninstaller autoupdate helper"
BOUND=60
while getopts n:r:b: option; do
  case $option in
    n) ROUNDS=$OPTARG ;;
    r) ROLES=$OPTARG ;;
    b) BOUND=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { sed -n '2,15p' "$0"; exit 2; }
# The wizard and the uninstaller need a display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" -n "$ROUNDS" \
    -r "$ROLES" -b "$BOUND" "$@"
fi

REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
DIR=${CRASH_BENCH_DIR:-/tmp/velum-crash-bench}
CORES=${CRASH_BENCH_CORES:-0,1}
# Big enough that an installation is still under way some seconds after its backend starts.
FILES=${CRASH_BENCH_FILES:-6000}
BYTES=${CRASH_BENCH_BYTES:-150000000}
WINESERVER=/usr/lib/wine/wineserver
COMMON=(--allusers=0 --enable-installer-stats=0
        --local-pref-default-overrides-server=http://127.0.0.1:9/)
RESULTS=$DIR/results.tsv
NAMES=()
declare -A BUILD_OF
for pair in "$@"; do
  NAMES+=("${pair%%=*}")
  BUILD_OF[${pair%%=*}]=$(cd "${pair#*=}" && pwd) || exit 2
done
INJECT=${CRASH_INJECT:-}
for name in "${NAMES[@]}"; do
  [ -n "$INJECT" ] || [ ! -f "${BUILD_OF[$name]}/bin/crash_inject.exe" ] ||
    INJECT=${BUILD_OF[$name]}/bin/crash_inject.exe
done
[ -n "$INJECT" ] || { echo "no build tree has bin/crash_inject.exe" >&2; exit 2; }

HOG=
COLLECTORS=()
finish() {
  [ -z "$HOG" ] || kill "$HOG" 2> /dev/null
  for state in "${COLLECTORS[@]}"; do touch "$state/stop"; done
  for name in "${NAMES[@]}"; do WINEPREFIX=$DIR/$name/prefix "$WINESERVER" -k 2> /dev/null; done
}
trap finish EXIT

# wine <name> <program> [args...]: a program in that tree's prefix, pinned.
wine() {
  local name=$1
  shift
  VELUM_WINEPREFIX=$DIR/$name/prefix VELUM_ALTERNATIVE_CRASH_SERVER_URL=$(cat "$DIR/$name/url") \
    taskset -c "$CORES" "${BUILD_OF[$name]}/wine-run.sh" "$@"
}

# The Unix pids of the prefix's processes whose command line holds every word given.
# Quick on a loaded machine: only the processes pgrep finds by the first word are read.
prefix_processes() {
  local prefix=$1 pid line word
  shift
  for pid in $(pgrep -f -- "$1"); do
    { tr '\0' '\n' < "/proc/$pid/environ"; } 2> /dev/null | grep -qxF "WINEPREFIX=$prefix" ||
      continue
    line=$(tr '\0' ' ' < "/proc/$pid/cmdline" 2> /dev/null)
    for word in "$@"; do [[ $line == *"$word"* ]] || continue 2; done
    echo "$pid"
  done
}

# wait_for <seconds> <command...>: true once the command prints something.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  while [ $SECONDS -lt $deadline ]; do
    [ -n "$("$@" 2> /dev/null)" ] && return 0
    sleep 0.2
  done
  return 1
}

setup() {
  local name=$1 build=${BUILD_OF[$1]} side=$DIR/$1 port
  echo "=== setting up $name ($build)"
  WINEPREFIX=$side/prefix "$WINESERVER" -k 2> /dev/null
  rm -rf "$side"
  mkdir -p "$side/run" "$side/collector" "$side/logs"
  local strict=(--strict)
  [ -z "${CRASH_BENCH_PLAIN:-}" ] || strict=()
  python3 "$REPO/testing/crash_collector/crash_collector.py" --state-dir "$side/collector" \
    "${strict[@]}" --lifetime 14400 > "$side/collector.log" 2>&1 &
  COLLECTORS+=("$side/collector")
  wait_for 30 ls "$side/collector/server.json" || { echo "no collector" >&2; exit 1; }
  port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["port"])' \
    "$side/collector/server.json")
  echo "http://127.0.0.1:$port/submit" > "$side/url"
  # Its own host in the packages: the installer that crashes is the tree's own.
  bash "$REPO/testing/e2e/make-sample-package.sh" "$build/fake_program/velum_fake_program.exe" \
    "$build/bin/velum_installer.exe" "$side/big" "$FILES" "$BYTES" > "$side/logs/samples.log" 2>&1 &&
  bash "$REPO/testing/e2e/make-sample-package.sh" "$build/fake_program/velum_fake_program.exe" \
    "$build/bin/velum_installer.exe" "$side/big_v2" "$FILES" "$BYTES" 1.0.101.0 test_pkg_v2 \
    >> "$side/logs/samples.log" 2>&1 || { echo "cannot make the samples" >&2; exit 1; }
  cp "$side/big/VelumSetup.exe" "$side/run/VelumSetup.exe"
  cp "$side/big_v2/VelumSetup.exe" "$side/run/VelumUpdate.exe"
  cp "$build/e2e/sample/VelumSetup.exe" "$side/run/VelumSmall.exe"
  cp "$build/bin/velum_installer.exe" "$side/run/velum_installer.exe"
  # The installation the uninstaller is started from (and left in place by its crash).
  wine "$name" "$side/run/VelumSmall.exe" --silent "${COMMON[@]}" '--installfolder=C:\Bench\base' \
    > "$side/logs/base.out" 2>&1 || { echo "cannot install the base" >&2; exit 1; }
  WINEPREFIX=$side/prefix timeout 60 "$WINESERVER" -w
}

# trial <name> <role> <round>: one crash; appends "name role round outcome seconds load".
trial() {
  local name=$1 role=$2 k=$3 side=$DIR/$1 prefix=$DIR/$1/prefix image fragment
  local started holder folder version out pid before t0 t1 load outcome seconds=-
  local temp=$prefix/drive_c/users/root/Temp settle=1 logged new
  # Only this trial's dump can be uploaded: a leftover one would be sent by a new reporter.
  rm -f "$temp"/*.dmp "$temp"/*.dmp.failed
  out=$side/logs/$role-$k
  case $role in
    silent|backend)
      folder="C:\\Bench\\$role$k"
      wine "$name" "$side/run/VelumSetup.exe" --silent "${COMMON[@]}" "--installfolder=$folder" \
        > "$out.out" 2>&1 &
      started=$!
      # Mid-install: the package's backend runs.
      wait_for 180 prefix_processes "$prefix" --backend installer.exe ||
        { echo "$role: no backend came"; }
      if [ $role = silent ]; then image=VelumSetup.exe fragment="--silent --allusers"
      else image=installer.exe fragment=--backend; fi ;;
    autoupdate)
      folder="C:\\Bench\\au$k"
      wine "$name" "$side/run/VelumSmall.exe" --silent "${COMMON[@]}" "--installfolder=$folder" \
        > "$out.install.out" 2>&1
      WINEPREFIX=$prefix timeout 60 "$WINESERVER" -w
      wine "$name" "$side/run/VelumUpdate.exe" --silent --autoupdate "${COMMON[@]}" \
        "--installfolder=$folder" > "$out.out" 2>&1 &
      started=$!
      wait_for 180 prefix_processes "$prefix" --backend installer.exe ||
        { echo "$role: no backend came"; }
      image=VelumUpdate.exe fragment="--silent --autoupdate" ;;
    wizard)
      wine "$name" "$side/run/VelumSetup.exe" "${COMMON[@]}" > "$out.out" 2>&1 &
      started=$!
      image=VelumSetup.exe fragment=--allusers settle=5 ;;
    uninstaller)
      version=$(sed -n 's/.*<path subfolder="\([^"]*\)".*/\1/p' \
        "$prefix/drive_c/Bench/base/installation_status.xml")
      wine "$name" "$prefix/drive_c/Bench/base/$version/installer.exe" --uninstall "${COMMON[@]}" \
        '--installfolder=C:\Bench\base' > "$out.out" 2>&1 &
      started=$!
      image=installer.exe fragment=--uninstall settle=5 ;;
    helper)
      # The installation's events it waits on, held by a stand-in for the installer.
      folder='C:/Bench/helper'
      wine "$name" "$INJECT" --hold "Global\\VelumInstaller/PackageReady/$folder" \
        "Global\\VelumInstaller/InstallationInterrupted/$folder" > "$out.holder" 2>&1 &
      wait_for 60 grep -m1 '^[0-9]' "$out.holder"
      holder=$(grep -m1 '^[0-9]' "$out.holder" | tr -d '\r')
      wine "$name" "$side/run/velum_installer.exe" '--set-folder-permission=C:\Bench\helper' \
        --permissions-for-user=Users '--wait-for-package=C:\Bench\package' \
        "--initial-pid=$holder" > "$out.out" 2>&1 &
      started=$!
      image=velum_installer.exe fragment=--set-folder-permission ;;
  esac
  # Its reporter is up (and has registered it) before it is crashed.
  wait_for 120 prefix_processes "$prefix" crash-reporter-parent-id || echo "$role: no reporter came"
  sleep $settle
  before=$(find "$side/collector" -name 'request-*.json' | wc -l)
  logged=$(cat "$temp"/*_crashreporter.log 2> /dev/null | wc -l)
  load=$(cut -d' ' -f1 /proc/loadavg)
  pid=$(wine "$name" "$INJECT" "$image" "$fragment" 2> "$out.inject" |
    sed -n 's/^crashed \([0-9]*\).*/\1/p')
  t0=$(date +%s.%N)
  if [ -z "$pid" ]; then
    outcome=missed
    echo "$name $role $k: not crashed: $(tr -d '\r' < "$out.inject")"
  else
    outcome=lost
    while [ "$(echo "$(date +%s.%N) - $t0 < $BOUND" | bc)" = 1 ]; do
      if python3 - "$side/collector" "$before" "$pid" <<'EOF'
import base64, glob, json, os, sys
state, before, pid = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for path in glob.glob(os.path.join(state, "request-*.json")):
    if int(path.rsplit("-", 1)[1].split(".")[0]) <= before:
        continue
    parts = {p["name"]: base64.b64decode(p["data_b64"]) for p in json.load(open(path)).get("parts", [])}
    if parts.get("pid", b"").decode() == pid and parts.get("upload_file_minidump"):
        sys.exit(0)
sys.exit(1)
EOF
      then
        t1=$(date +%s.%N)
        outcome=reported
        seconds=$(echo "$t1 - $t0" | bc)
        break
      fi
      # A failure the reporter logged ends the wait (a failed upload is never retried).
      new=$(cat "$temp"/*_crashreporter.log 2> /dev/null | tail -n +$((logged + 1)))
      if grep -q "Cannot write the dump of process $pid" <<< "$new"; then
        outcome=lost:dump
        break
      fi
      if grep -Eq "Crash upload of .* failed|not uploaded" <<< "$new"; then
        outcome=lost:upload
        break
      fi
      sleep 0.2
    done
  fi
  [ $outcome = reported ] ||
    { cat "$temp"/*_crashreporter.log 2> /dev/null | tail -n +$((logged + 1)); } > "$out.reporter.log"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$role" "$k" "$outcome" "$seconds" "$load" >> "$RESULTS"
  echo "$name $role $k: $outcome ${seconds}s load $load"
  # Nothing of the trial stays: its processes, installations and unpacked packages.
  WINEPREFIX=$prefix "$WINESERVER" -k 2> /dev/null
  WINEPREFIX=$prefix timeout 30 "$WINESERVER" -w
  wait "$started" 2> /dev/null

  rm -rf "$prefix/drive_c/Bench/silent$k" "$prefix/drive_c/Bench/backend$k" \
    "$prefix/drive_c/Bench/au$k" "$prefix/drive_c/windows/Temp/VelumInstaller-"* \
    "$temp/Velum Installer/velum_installer_"*/
}

mkdir -p "$DIR"
: > "$RESULTS"
for name in "${NAMES[@]}"; do setup "$name"; done
taskset -c "$CORES" sh -c 'while :; do :; done' &
HOG=$!
echo "=== CPU hog $HOG on cores $CORES; $ROUNDS rounds of: $ROLES"
for k in $(seq "$ROUNDS"); do
  order=("${NAMES[@]}")
  if [ $((k % 2)) = 0 ]; then
    order=()
    for ((i = ${#NAMES[@]} - 1; i >= 0; i--)); do order+=("${NAMES[$i]}"); done
  fi
  for role in $ROLES; do
    for name in "${order[@]}"; do trial "$name" "$role" "$k"; done
  done
done

echo "=== role / tree: N of M reported within ${BOUND}s, crash to report min..max, load min..max"
python3 - "$RESULTS" <<'EOF'
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1]) if line.strip()]
keys = []
for name, role, *_ in rows:
    if (role, name) not in keys:
        keys.append((role, name))
for role, name in keys:
    mine = [r for r in rows if r[0] == name and r[1] == role]
    crashed = [r for r in mine if r[3] != "missed"]
    times = sorted(float(r[4]) for r in crashed if r[3] == "reported")
    loads = sorted(float(r[5]) for r in mine)
    spread = "%.1f..%.1f s" % (times[0], times[-1]) if times else "-"
    missed = len(mine) - len(crashed)
    lost = {}
    for r in crashed:
        if r[3] != "reported":
            lost[r[3]] = lost.get(r[3], 0) + 1
    print("%-12s %-8s %d of %d  %-14s load %.1f..%.1f%s%s" % (
        role, name, len(times), len(crashed), spread, loads[0], loads[-1],
        "".join("  %s %d" % item for item in sorted(lost.items())),
        "  (%d not crashed)" % missed if missed else ""))
EOF
