#!/bin/sh
# append-tracking-data.sh <installer.exe> <tracking data>: appends a tracking-data payload
# as the download server does: "VLM", the data, its length as u32 little-endian (< 256).
set -eu
payload=$2
{ printf 'VLM%s' "$payload"; printf "\\$(printf '%03o' ${#payload})\\000\\000\\000"; } >> "$1"
