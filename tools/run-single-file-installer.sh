#!/bin/sh
# Copies the installer alone into an empty folder, appends a tracking-data payload as a
# download server would, and runs it there with the given arguments:
#   run-single-file-installer.sh WINE_RUN INSTALLER [ARGS...]
# The exit status and output are the installer's own.
set -u
wine_run=$1
installer=$2
shift 2
folder=$(mktemp -d) || exit 125
trap 'rm -rf "$folder"' EXIT
cp "$installer" "$folder/VelumSetup.exe" || exit 125
# "VLM", the payload, its length as u32 little-endian.
payload='{"partner":"ctest"}'
{ printf 'VLM%s' "$payload"; printf "\\$(printf '%03o' ${#payload})\\000\\000\\000"; } \
  >> "$folder/VelumSetup.exe" || exit 125
"$wine_run" "$folder/VelumSetup.exe" "$@"
