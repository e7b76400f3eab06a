#!/usr/bin/env bash
# Builds the receiver for this machine and runs it in the console ("-debug").
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target QuarnelSysLog

root="${QUARNEL_HOST_ROOT:-$HOME/.local/state/quarnel-host}"
echo "Entries go to $root/eventlog/Application.jsonl"
# Port 514 is privileged here as on any Unix; on Windows any user may bind it.
if [ "$(id -u)" -ne 0 ]; then
  exec sudo QUARNEL_HOST_ROOT="$root" build/host/QuarnelSysLog.exe -debug
fi
QUARNEL_HOST_ROOT="$root" exec build/host/QuarnelSysLog.exe -debug
