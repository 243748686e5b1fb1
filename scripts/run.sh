#!/usr/bin/env bash
# Builds KorvoHub and runs it in the console (-debug) on a local installation
# under .state/ in the checkout: registry hives, server root, pipe and log
# folders. The configuration is written on the first run and kept after that;
# remove .state/ to start afresh. Beside it runs the modem simulator: two
# modems on one simulated line, "tx" (number 100) the server's send-only modem
# and "rx" (number 200) its receive-only one, so a fax sent to 200 goes out and
# comes back in. Ctrl+C stops both. From another shell, with the export line
# printed at start-up, build/tools/faxdemo sends, lists and fetches faxes.
#   scripts/run.sh            plain build in build/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
state="$top/.state"
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target korvohub korvocore modemsim modemsetup faxdemo prnstream >/dev/null

mkdir -p "$state/run" "$state/log" "$state/config" "$state/users"
# Every login makes its own folder in users/: open to all, and sticky as /tmp
# is, so none can move, remove or replace another's.
chmod 1777 "$state/users"
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
"DefaultUsersDataPath"="$state/users"

[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]
"RootPath"="$state/server"
"Pipes"=dword:00000001
"TcpIp"=dword:00000000
REG
fi

# The simulator's port paths are short ones of its own under /tmp.
mkdir -p "$state/server/Config"
coproc SIM { exec "$top/build/tools/modemsim" --set "ring-ms 1000" --modem "name=tx number=100" \
  --modem "name=rx number=200" --record "$state/log/calls.txt"; }
sim=$SIM_PID
# A background job ignores Ctrl+C, so the simulator is stopped here.
trap 'kill -TERM "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
declare -A port
while read -r word name path <&"${SIM[0]}"; do
  [ "$word" = ready ] && break
  [ "$word" = port ] && port[$name]=$path
done
[ -n "${port[tx]:-}" ] && [ -n "${port[rx]:-}" ] || { echo "modemsim did not start" >&2; exit 1; }
# The login running this may send, list and fetch faxes (every right).
"$top/build/tools/modemsetup" "$state/server/Config/Modems.dbs" "${port[tx]}" "${port[rx]}" "$(id -un)"
echo "Korvo state in $state (server root $state/server, log $state/log/Korvo.evt)"
echo "Simulated modems: send ${port[tx]} (number 100), receive ${port[rx]} (number 200); calls in $state/log/calls.txt"
echo "To use it from another shell, first:"
printf '  export KORVO_MACHINE_HIVE=%q KORVO_USER_HIVE=%q KORVO_PIPE_DIR=%q KORVO_LOG_DIR=%q\n' \
  "$KORVO_MACHINE_HIVE" "$KORVO_USER_HIVE" "$KORVO_PIPE_DIR" "$KORVO_LOG_DIR"
echo "then, for example:"
echo "  echo Hello | $top/build/tools/prnstream -t - $state/job.prn"
echo "  $top/build/tools/faxdemo send 200 $state/job.prn Hello"
echo "  $top/build/tools/faxdemo list    # job id, sender, subject, pages, state of each fax received"
echo "  $top/build/tools/faxdemo fetch JOBID $state/got.tif && tiffinfo $state/got.tif"
"$top/build/server/korvohub" -debug || true
