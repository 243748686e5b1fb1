#!/usr/bin/env bash
# Builds KorvoHub and runs it in the console (-debug) on a local installation
# under .state/ in the checkout: registry hives, server root, pipe and log
# folders. The configuration is written on the first run and kept after that;
# remove .state/ to start afresh. Ctrl+C stops the server.
#   scripts/run.sh            plain build in build/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
state="$top/.state"
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target korvohub korvocore >/dev/null

mkdir -p "$state/run" "$state/log" "$state/config"
export KORVO_MACHINE_HIVE="$state/machine.reg"
export KORVO_USER_HIVE="$state/config/user.reg"
export KORVO_PIPE_DIR="$state/run"
export KORVO_LOG_DIR="$state/log"
export KORVO_SYSTEMD_DIR="$state/systemd"
if [ ! -e "$KORVO_MACHINE_HIVE" ]; then
  cat >"$KORVO_MACHINE_HIVE" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]
"KorvoCore"="$top/build/core/libkorvocore.so"
"DefaultServer"="$(hostname)"

[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]
"RootPath"="$state/server"
"Pipes"=dword:00000001
"TcpIp"=dword:00000000
REG
fi
echo "Korvo state in $state (server root $state/server, log $state/log/Korvo.evt)"
exec "$top/build/server/korvohub" -debug
