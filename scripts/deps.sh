#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing. Quiet and idempotent.
# Installing needs root: it runs apt-get itself as root, else through sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(grep -v '^\s*#' "$here/packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
# The same install as below, so a root shell can take the line as it is.
as_root() {
  echo "Missing packages must be installed as root: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
}
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || as_root
  # sudo asks for the password once here; a login it refuses (not a sudoer)
  # gets the line for root after sudo's own complaint.
  sudo -v || as_root
  sudo=(sudo)
fi
echo "Installing (this takes some minutes): ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Runs a command with its output dropped and its errors shown, all but the
# notice apt-get gives without apt-utils that debconf delays configuration.
quiet() {
  local err status=0
  err=$("$@" 2>&1 >/dev/null) || status=$?
  [ -z "$err" ] || grep -v '^debconf: delaying package configuration' <<<"$err" >&2 || true
  return "$status"
}
# apt-get's status lines (APT::Status-Fd) as one line that moves: the share
# done and the step, over the count of packages the install brings; what
# else apt-get and dpkg print is dropped.
progress() {
  local count=$1 kind field percent what shown=0
  while IFS=: read -r kind field percent what; do
    case $kind in
      dlstatus | pmstatus) ;;
      *) continue ;;
    esac
    printf '\r  %3.0f%% of %s packages: %-45.45s' "$percent" "$count" "$what"
    shown=1
  done
  [ "$shown" = 0 ] || printf '\n'
}
quiet "${sudo[@]}" apt-get update -qq
# What the install brings with the packages named, as apt-get plans it.
count=$({ apt-get -s install --no-install-recommends "${missing[@]}" 2>/dev/null || true; } | grep -c '^Inst ' || true)
exec {out}> >(progress "$count")
reader=$!
status=0
err=$("${sudo[@]}" apt-get install -y -qq --no-install-recommends -o APT::Status-Fd=1 "${missing[@]}" 2>&1 >&"$out") ||
  status=$?
exec {out}>&-
wait "$reader" || true
[ -z "$err" ] || grep -v '^debconf: delaying package configuration' <<<"$err" >&2 || true
exit "$status"
