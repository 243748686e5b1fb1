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
# Setup runs as root from these files: a folder someone else owns could have
# its files swapped before or after they are written.
if [ -e "$dir" ] && [ ! -O "$dir" ]; then
  echo "$0: $dir belongs to another login; name a new folder or one of your own" >&2
  exit 1
fi
# What the media holds is built first (after scripts/run.sh or test.sh, the
# packages are there and most of it is built).
[ -f "$build/build.ninja" ] ||
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The suite's list names the targets: a source without a '/'.
targets=$(awk '!/^#/ && NF == 3 && $3 !~ /\// { print $3 }' "$top/media/files.txt")
# shellcheck disable=SC2086
ninja -C "$build" $targets szddpack >/dev/null
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
