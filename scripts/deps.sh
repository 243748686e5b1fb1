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
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    # The same install as below, so a root shell can take the line as it is.
    echo "Missing packages must be installed as root: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
# apt-get runs quietly, and a first install takes minutes.
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
quiet "${sudo[@]}" apt-get update -qq
quiet "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
