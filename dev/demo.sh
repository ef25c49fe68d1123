#!/usr/bin/env bash
# The whole job under Wine, against the bundled loopback allowlist server:
# configure, sync, the real service under Wine's service control manager,
# an address change that the service follows. Leaves nothing running.
set -euo pipefail
BUILD=$1
SRC=$(cd "$(dirname "$0")" && pwd)
WINE=$BUILD/wine-run
WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
LAUNCHER=$BUILD/test-tools/launch.exe
SERVICE_CONTROL=$BUILD/test-tools/service_control.exe
SERVER=$SRC/demo_server.py
SERVICE=QORWhitelistIPUpdater
TOKEN=demo-token-123456
FIRST_IP=203.0.113.7
SECOND_IP=198.51.100.42
ECHO_PORT=$(sed -n 's/^WHITELIST_ECHO_PORT:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
# Under Wine a service sees ProgramData=C:\users\Public, so the command-line
# runs are given the same folder (on Windows both see the same anyway).
PUBLIC='C:\users\Public'
DATA=$WINEPREFIX/drive_c/users/Public/QOR\ Whitelist\ IP\ Updater
DEMO=$(mktemp -d /tmp/whitelist-demo.XXXXXX)
SERVER_PID=

remove_service() {
  "$WINE" sc query "$SERVICE" >/dev/null 2>&1 </dev/null || return 0
  "$WINE" sc stop "$SERVICE" >/dev/null 2>&1 </dev/null
  for _ in $(seq 100); do
    "$WINE" sc query "$SERVICE" 2>/dev/null </dev/null | grep -q STOPPED && break
    sleep 0.2
  done
  "$WINE" sc delete "$SERVICE" >/dev/null 2>&1 </dev/null
}
cleanup() {
  set +e
  remove_service
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
  rm -rf "$DEMO" "$DATA"
}
trap cleanup EXIT

caption() { printf '\n=== %s\n' "$*"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
agent() {
  printf '\n$ whitelist %s\n' "$*"
  local code=0
  "$WINE" "$LAUNCHER" "ProgramData=$PUBLIC" -- "$(winpath "$DEMO/app/whitelist.exe")" "$@" </dev/null | tr -d '\r' || code=$?
  printf '(exit code %s)\n' "${PIPESTATUS[0]:-$code}"
}
set_public_ip() {
  python3 -c "import sys; sys.path.insert(0, sys.argv[1])
from demo_server import ControlClient
ControlClient(sys.argv[2]).set_ip(sys.argv[3])" "$SRC" "$URL" "$1"
}
allowlist() {
  printf '\nThe server'"'"'s allowlist (token address):\n'
  python3 "$SERVER" print-allowlist --control-url "$URL" | sed 's/^/  /'
}
show_log() {
  printf '\nservice.log:\n'
  tr -d '\r' <"$DATA/service.log" | sed 's/^/  /'
}
wait_log() {
  for _ in $(seq 300); do
    grep -qF "$1" "$DATA/service.log" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "the service did not log \"$1\" within a minute" >&2
  return 1
}

mkdir -p "$DEMO/app"
cp "$BUILD/bin/whitelist.exe" "$BUILD/bin/sync.exe" "$DEMO/app/"
remove_service
rm -rf "$DATA"

caption "1. The loopback allowlist server (it also plays the public IP echo service)"
HTTPS_PORT=$ECHO_PORT
if ! python3 -c "import socket,sys; s=socket.socket(); s.bind(('127.0.0.1', int(sys.argv[1])))" "$ECHO_PORT" 2>/dev/null; then
  echo "(port $ECHO_PORT is busy, so no echo service: the server's own client-ip answer is enough)"
  HTTPS_PORT=0
fi
python3 "$SERVER" --http-port 0 --https-port "$HTTPS_PORT" --make-cert "$DEMO/cert" --ip "$FIRST_IP" \
  --port-file "$DEMO/ports.json" >/dev/null 2>"$DEMO/server.err" &
SERVER_PID=$!
for _ in $(seq 100); do [ -f "$DEMO/ports.json" ] && break; sleep 0.1; done
[ -f "$DEMO/ports.json" ] || { cat "$DEMO/server.err" >&2; exit 1; }
URL=http://127.0.0.1:$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['http'])" "$DEMO/ports.json")
echo "Server: $URL; it tells the agent that this PC's public address is $FIRST_IP."
echo "Data folder (shared with the service): $DATA"

caption "2. Configure the agent: the settings are saved and the address registered"
agent status
agent --token "$TOKEN" --server-url "$URL/"
allowlist

caption "3. A manual sync registers the same address again (no removal)"
agent sync

caption "4. Install and start the real service under Wine's service control manager"
printf '$ sc create %s binPath= %s\n' "$SERVICE" "$(winpath "$DEMO/app/whitelist.exe")"
"$WINE" sc create "$SERVICE" binPath= "$(winpath "$DEMO/app/whitelist.exe")" </dev/null | tr -d '\r'
printf '$ sc start %s\n' "$SERVICE"
"$WINE" sc start "$SERVICE" </dev/null | tr -d '\r' | grep -E 'STATE|CHECKPOINT|WAIT_HINT'
wait_log "Startup whitelist sync OK"
agent status
allowlist
show_log

caption "5. The PC's public address changes to $SECOND_IP"
set_public_ip "$SECOND_IP"
echo "The service polls once a minute. Instead of waiting, we set its reload event"
echo "(Global\\QORWhitelistIPUpdaterReloadLastIp), which wakes it for a cycle at once."
"$WINE" "$SERVICE_CONTROL" event </dev/null
wait_log "IP updated: $SECOND_IP"
show_log
allowlist
echo "The old address $FIRST_IP was removed and $SECOND_IP added."

caption "6. Stop and remove the service, stop the server"
"$WINE" sc stop "$SERVICE" </dev/null | tr -d '\r' | grep -E 'STATE'
