#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds (default 60).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-60}
dir="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
shopt -s nullglob
for f in "$top"/fuzz/*_fuzz.cpp; do
  name=$(basename "$f" .cpp)
  corpus=$(mktemp -d)
  [ -d "$top/fuzz/corpus/$name" ] && cp -r "$top/fuzz/corpus/$name/." "$corpus/"
  echo "== $name for ${secs}s"
  log="$corpus.log"
  if ! (cd "$corpus" && "$dir/fuzz/$name" -max_total_time="$secs" -print_final_stats=1 "$corpus" >"$log" 2>&1); then
    tail -n 60 "$log"; echo "$name failed"; rm -rf "$corpus" "$log"; exit 1
  fi
  tail -n 4 "$log"
  rm -rf "$corpus" "$log"
done
