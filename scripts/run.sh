#!/bin/bash
# Sets everything up, builds, makes the sample browser package and its single-file
# full-package installer, and installs the browser with it, silently, into a Wine prefix
# of its own (out/run-prefix). Says where it installed and how it went.
#   scripts/run.sh                 the full-package installer (the package rides along)
#   scripts/run.sh --net           the net installer: it downloads the package from the
#                                  local update server (testing/update_server), started
#                                  on 127.0.0.1 for the run and stopped after it
#   scripts/run.sh -- <switches>   the host with these switches instead (e.g. --version)
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
OUT=${OUT:-$REPO/out}
BUILD=${BUILD:-$OUT/build}
PREFIX=${VELUM_RUN_PREFIX:-$OUT/run-prefix}
ROUTE=full
case "${1:-}" in
  --net) ROUTE=net ;;
  --) shift; "$REPO/scripts/setup.sh"; exec "$BUILD/wine-run.sh" "$BUILD/bin/velum_installer.exe" "$@" ;;
  "") ;;
  *) echo "usage: scripts/run.sh [--net | -- <installer switches>]" >&2; exit 2 ;;
esac

"$REPO/scripts/setup.sh"
SAMPLE=$OUT/sample
echo "=== making the sample browser package and its installer"
bash "$REPO/testing/e2e/make-sample-package.sh" "$BUILD/fake_program/velum_fake_program.exe" \
  "$BUILD/bin/velum_installer.exe" "$SAMPLE" 400 20000000
FOLDER='C:\Program Files\Velum'
UNIX_FOLDER="$PREFIX/drive_c/Program Files/Velum"
# Nothing leaves this machine: no statistics, and the preference overrides are asked of
# a closed loopback port (and crash reports sent to one, by wine-run.sh). Per user: an all-users installation needs ACL calls on HKLM
# that Wine lacks.
SWITCHES=(--silent --allusers=0 "--installfolder=$FOLDER" --enable-installer-stats=0
          --local-pref-default-overrides-server=http://127.0.0.1:9/)
INSTALLER=$SAMPLE/VelumSetup.exe
SERVER=
stop_server() { [ -z "$SERVER" ] || bash "$REPO/testing/e2e/local-update-server.sh" stop "$SERVER"; }
trap stop_server EXIT

if [ $ROUTE = net ]; then
  # The net installer is the host with tracking data; the server answers the address
  # request with the full-package installer, which the net installer checks and unpacks.
  INSTALLER=$SAMPLE/VelumNetSetup.exe
  cp "$BUILD/bin/velum_installer.exe" "$INSTALLER"
  sh "$REPO/tools/append-tracking-data.sh" "$INSTALLER" '{"partner":"run.sh"}'
  SERVER=$SAMPLE/server
  url=$(bash "$REPO/testing/e2e/local-update-server.sh" start "$SERVER" "$SAMPLE/VelumSetup.exe")
  echo "=== local update server: $url"
  SWITCHES+=("--internal-package-server=$url")
fi

echo "=== installing the sample browser silently into $PREFIX ($ROUTE route)"
rm -rf "$UNIX_FOLDER"
mkdir -p "$SAMPLE/download"
cp "$INSTALLER" "$SAMPLE/download/"
# Only this run's logs count: a killed installer also ends with 0 under Wine, so the run
# is a success only when one of its installers logged that it succeeded.
touch "$SAMPLE/run.stamp"
set +e
VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$SAMPLE/download/$(basename "$INSTALLER")" \
  "${SWITCHES[@]}" > "$SAMPLE/installer.out" 2>&1
RC=$?
WINEPREFIX=$PREFIX timeout 60 /usr/lib/wine/wineserver -w
stop_server

FILES=$(find "$UNIX_FOLDER" -type f 2>/dev/null | wc -l)
# Each process of the run logs on its own: the front end (no --backend on its command
# line), its backend, and the package's installer, the last to log the outcome.
RUN_LOGS=()
while IFS= read -r log; do RUN_LOGS+=("$log"); done < <(
  find "$PREFIX"/drive_c/users/*/Temp/Velum\ Installer -name 'velum_installer_*.log' \
    -newer "$SAMPLE/run.stamp" 2>/dev/null | sort)
OUTCOME_LOG= FRONT_END_LOG= SUCCEEDED=0
for log in "${RUN_LOGS[@]}"; do
  grep -q "Command line: .* --backend" "$log" || FRONT_END_LOG=$log
  if grep -q "Installation succeeded" "$log"; then SUCCEEDED=1; OUTCOME_LOG=$log; fi
done
if [ -z "$OUTCOME_LOG" ] && [ ${#RUN_LOGS[@]} -gt 0 ]; then
  OUTCOME_LOG=${RUN_LOGS[${#RUN_LOGS[@]}-1]}
fi
set -e
echo "installed into: $FOLDER (in $UNIX_FOLDER)"
echo "exit code:      $RC"
echo "installed files: $FILES"
echo "outcome log:    ${OUTCOME_LOG:-none}"
echo "front end log:  ${FRONT_END_LOG:-none}"
echo "success logged: $([ "$SUCCEEDED" -gt 0 ] && echo yes || echo no)"
if [ "$RC" = 0 ] && [ "$FILES" -gt 0 ] && [ "$SUCCEEDED" -gt 0 ]; then
  echo "The Velum browser is installed."
else
  echo "The installation failed; see the logs above and $SAMPLE/installer.out."
  exit 1
fi
