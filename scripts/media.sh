#!/usr/bin/env bash
# Makes the installation media from a build: every program and file setup
# copies, in one flat folder.
#   scripts/media.sh DIR [--compress]
# With --compress each file but the launcher korvoprep, libkorvocore.so and
# README.TXT is packed (SZDD, its name's last character replaced by '_'),
# as setup expands them; the manager's help book (help/) stays plain, as
# its files' names differ only in their last character. The build folder is $KORVO_BUILD_DIR, else build/;
# the programs are built there first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_BUILD_DIR:-$top/build}
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --compress ]; }; then
  echo "usage: $0 DIR [--compress]" >&2
  exit 2
fi
dir=$1
# What the media holds is built first (after scripts/run.sh or test.sh, the
# packages are there and most of it is built).
[ -f "$build/build.ninja" ] ||
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" korvoprep korvocore korvodesk korvolens korvobell korvohub korvo-relay rastertokvf kvf \
  korvocapture szddpack >/dev/null
cmake --install "$build" --component media --prefix "$dir" >/dev/null
if [ "${2:-}" = --compress ]; then
  for f in "$dir"/*; do
    [ -d "$f" ] && continue
    case $(basename "$f") in
      korvoprep | libkorvocore.so | README.TXT | *_) continue ;;
    esac
    "$build/tools/szddpack" "$f"
    rm -f "$f"
  done
fi
