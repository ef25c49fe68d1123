#!/usr/bin/env bash
# Shows the agent under Wine on a data folder of its own: status before and
# after configure mode, and the stored configuration decrypted with openssl.
set -euo pipefail
BUILD=$1
WINE=$BUILD/wine-run
LAUNCHER=$BUILD/test-tools/launch.exe
DEMO=$(mktemp -d /tmp/whitelist-demo.XXXXXX)
trap 'rm -rf "$DEMO"' EXIT
mkdir -p "$DEMO/ProgramData" "$DEMO/app"
cp "$BUILD/bin/whitelist.exe" "$BUILD/bin/sync.exe" "$DEMO/app/"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
agent() {
  printf '\n$ whitelist %s\n' "$*"
  local code=0
  "$WINE" "$LAUNCHER" "ProgramData=$(winpath "$DEMO/ProgramData")" -- "$(winpath "$DEMO/app/whitelist.exe")" "$@" | tr -d '\r' || code=$?
  printf '(exit code %s)\n' "${PIPESTATUS[0]:-$code}"
}

echo "Data folder: $DEMO/ProgramData/QOR Whitelist IP Updater"
agent status
agent --token demo-token-123456 --server-url https://allowlist.example.test/
agent status

CONFIG="$DEMO/ProgramData/QOR Whitelist IP Updater/whitelist.config"
printf '\nwhitelist.config as stored (Base64 of IV + AES-128-CFB ciphertext):\n%s\n' "$(cat "$CONFIG")"
printf '\ndecrypted independently with openssl:\n'
python3 - "$CONFIG" <<'PY'
import base64, subprocess, sys
raw = base64.b64decode(open(sys.argv[1], "rb").read())
key = b"Rw8TqLm2VbN5xZc7".hex()
out = subprocess.run(["openssl", "enc", "-d", "-aes-128-cfb", "-K", key, "-iv", raw[:16].hex()],
                     input=raw[16:], capture_output=True, check=True).stdout
sys.stdout.write(out.decode())
PY
