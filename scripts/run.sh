#!/usr/bin/env bash
# Builds KorvoHub and runs it in the console (-debug) on a local installation
# under .state/ in the checkout: registry hives, server root, pipe and log
# folders. The configuration is written on the first run and kept after that;
# remove .state/ to start afresh. Beside it runs the modem simulator: two
# modems on one simulated line, "tx" (number 100) the server's send-only modem
# and "rx" (number 200) its receive-only one, so a fax sent to 200 goes out and
# comes back in. Ctrl+C (or SIGTERM, SIGHUP) stops both. Once the server is up
# it prints the export line and commands with which build/tools/faxdemo sends,
# lists and fetches faxes from another shell. It exits non-zero when the
# server does not start.
#   scripts/run.sh            plain build in build/
# KORVO_BUILD_DIR and KORVO_STATE_DIR name other build and state folders.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_BUILD_DIR:-$top/build}
state=${KORVO_STATE_DIR:-$top/.state}
"$top/scripts/deps.sh"

builder=""
hub=""
reader=""
sim=""
# Stops what this script started: the build, the server through its console
# stop (as Ctrl+C does), the reader of its output, then the simulator. A
# server that has not yet taken the stop signal is asked again; one that does
# not stop in 30 s is killed.
stop() {
  if [ -n "$builder" ]; then
    kill -TERM "$builder" 2>/dev/null || true
    wait "$builder" 2>/dev/null || true
    builder=""
  fi
  if [ -n "$hub" ]; then
    for ((i = 0; i < 300; i++)); do
      kill -0 "$hub" 2>/dev/null || break
      if [ $((i % 10)) = 0 ]; then kill -INT "$hub" 2>/dev/null || true; fi
      sleep 0.1
    done
    kill -KILL "$hub" 2>/dev/null || true
    wait "$hub" 2>/dev/null || true
    hub=""
  fi
  if [ -n "$reader" ]; then
    kill -TERM "$reader" 2>/dev/null || true
    wait "$reader" 2>/dev/null || true
    reader=""
  fi
  if [ -n "$sim" ]; then
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=""
  fi
}
trap stop EXIT
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM
trap 'stop; exit 129' HUP

# The build runs in the background, so a signal stops it at once; ninja ends
# its jobs when it is stopped.
[ -f "$build/build.ninja" ] ||
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" korvohub korvocore modemsim modemsetup faxdemo prnstream korvodesk korvolens &
builder=$!
if ! wait "$builder"; then
  builder=""
  echo "The build failed." >&2
  exit 1
fi
builder=""

# A server already running on this state is left as it is: its modem table,
# hive and folders belong to it. It holds a lock on its root while it runs.
if [ -d "$state/server" ] && ! flock -n "$state/server" true; then
  echo "The server root $state/server is in use by another server (another scripts/run.sh?); nothing was changed." >&2
  echo "korvohub did not start." >&2
  exit 1
fi

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
"KorvoCore"="$build/core/libkorvocore.so"
"DefaultServer"="$(hostname)"
"DefaultUsersDataPath"="$state/users"

[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]
"RootPath"="$state/server"
"Pipes"=dword:00000001
"TcpIp"=dword:00000000
REG
fi
# The manager's View starts the viewer the machine value "KorvoLens" names;
# a hive written before the viewer was built gains it too.
lens="$build/viewer/korvolens"
if [ -x "$lens" ] && ! grep -q '^"KorvoLens"=' "$KORVO_MACHINE_HIVE"; then
  sed -i "/^\"KorvoCore\"=/a \"KorvoLens\"=\"$lens\"" "$KORVO_MACHINE_HIVE"
fi

# The simulator's port paths are short ones of its own under /tmp.
mkdir -p "$state/server/Config"
coproc SIM { exec "$build/tools/modemsim" --set "ring-ms 1000" --modem "name=tx number=100" \
  --modem "name=rx number=200" --record "$state/log/calls.txt"; }
sim=$SIM_PID
declare -A port
while read -r word name path <&"${SIM[0]}"; do
  [ "$word" = ready ] && break
  [ "$word" = port ] && port[$name]=$path
done
[ -n "${port[tx]:-}" ] && [ -n "${port[rx]:-}" ] || { echo "modemsim did not start" >&2; exit 1; }
# The login running this may send, list and fetch faxes (every right).
"$build/tools/modemsetup" "$state/server/Config/Modems.dbs" "${port[tx]}" "${port[rx]}" "$(id -un)"

instructions() {
  echo "Korvo state in $state (server root $state/server, log $state/log/Korvo.evt)"
  echo "Simulated modems: send ${port[tx]} (number 100), receive ${port[rx]} (number 200); calls in $state/log/calls.txt"
  echo "To use it from another shell, first:"
  printf '  export KORVO_MACHINE_HIVE=%q KORVO_USER_HIVE=%q KORVO_PIPE_DIR=%q KORVO_LOG_DIR=%q\n' \
    "$KORVO_MACHINE_HIVE" "$KORVO_USER_HIVE" "$KORVO_PIPE_DIR" "$KORVO_LOG_DIR"
  echo "then, for example:"
  echo "  echo Hello | $build/tools/prnstream -t - $state/job.prn"
  echo "  $build/tools/faxdemo send 200 $state/job.prn Hello"
  echo "  $build/tools/faxdemo list    # job id, sender, subject, pages, state of each fax received"
  echo "  $build/tools/faxdemo fetch JOBID $state/got.tif && tiffinfo $state/got.tif"
  echo "  $build/manager/korvodesk &   # the manager: your folders and the server's"
}

# The server's console output passes through a reader in the background, so
# the instructions come once it reports that it has started, and never for a
# server that did not. The script itself only waits: a signal that comes
# while the shell is in a read of its own would run its trap only once the
# server writes its next line, which an idle server may never do.
exec {console}< <(exec "$build/server/korvohub" -debug)
hub=$!
{
  up=0
  while IFS= read -r line || [ -n "$line" ]; do
    printf '%s\n' "$line"
    if [ "$up" = 0 ] && [ "$line" = "Fax Server Daemon started." ]; then
      up=1
      instructions
    fi
  done
  [ "$up" = 1 ]
} <&"$console" &
reader=$!
exec {console}<&-
started=0
wait "$reader" && started=1
reader=""
code=0
wait "$hub" || code=$?
hub=""
if [ "$started" = 0 ]; then
  echo "korvohub did not start." >&2
  exit 1
fi
exit "$code"
