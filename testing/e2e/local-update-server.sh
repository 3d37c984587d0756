#!/bin/bash
# The local update server (testing/update_server/update_server.py) serving one package
# to a net installer, for scripts/run.sh --net and the end-to-end cases.
#   local-update-server.sh start <state dir> <full-package installer> [config JSON]
#       starts it on 127.0.0.1/::1, answers the address request with the installer and its
#       checksum, prints the address-request URL; it stops by itself after ten minutes.
#       The config JSON's "faults" and "download_address" members are added to the
#       server's (e.g. a fault of "/VelumSetup.exe", another "installer_checksum");
#       "@FILE" takes it from FILE (a long one does not fit in an argument).
#       With PORT set it listens on that port (the installer's local statistics endpoint
#       is localhost:8080), waiting up to a minute for it to be free.
#   local-update-server.sh stop <state dir>
#       stops it and waits (bounded) until it has
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state=$2
case $1 in
  start)
    rm -rf "$state"
    mkdir -p "$state/files"
    cp "$3" "$state/files/VelumSetup.exe"
    python3 - "$state/config.json" "${4:-{\}}" <<'PY'
import json, sys
extra = sys.argv[2]
extra = json.load(open(extra[1:])) if extra.startswith("@") else json.loads(extra)
address = {"installer": "{base}/VelumSetup.exe", "installer_file": "VelumSetup.exe"}
address.update(extra.get("download_address", {}))
json.dump({"routes": {"/VelumSetup.exe": {"file": "VelumSetup.exe"}},
           "faults": extra.get("faults", {}), "download_address": address},
          open(sys.argv[1], "w"))
PY
    for _ in $(seq 60); do
      nohup python3 "$here/../update_server/update_server.py" --state-dir "$state" \
        --port "${PORT:-0}" > "$state/server.log" 2>&1 &
      server=$!
      for _ in $(seq 200); do
        [ -s "$state/server.json" ] && break 2
        kill -0 $server 2> /dev/null || break
        sleep 0.1
      done
      sleep 1
    done
    [ -s "$state/server.json" ] || { echo "the local update server did not start" >&2; exit 1; }
    port=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['port'])" \
      "$state/server.json")
    echo "http://127.0.0.1:$port/netinstaller/"
    ;;
  stop)
    [ -d "$state" ] || exit 0
    touch "$state/stop"
    for _ in $(seq 100); do [ -e "$state/stopped" ] && break; sleep 0.1; done
    ;;
esac
