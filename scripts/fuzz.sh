#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds (default 60).
# A failing target leaves its input in build-fuzz/artifacts/<name>-crash-* (or -leak-,
# -timeout-, -oom-), printed into the log, since the run's corpus is temporary.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-60}
dir="$top/build-fuzz"
artifacts="$dir/artifacts"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
mkdir -p "$artifacts"
shopt -s nullglob
for f in "$top"/fuzz/*_fuzz.cpp; do
  name=$(basename "$f" .cpp)
  corpus=$(mktemp -d)
  [ -d "$top/fuzz/corpus/$name" ] && cp -r "$top/fuzz/corpus/$name/." "$corpus/"
  echo "== $name for ${secs}s"
  log="$corpus.log"
  if ! (cd "$corpus" && "$dir/fuzz/$name" -max_total_time="$secs" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1); then
    tail -n 60 "$log"
    # libFuzzer names the input it wrote; without that line (a crash in the
    # fuzzer itself) nothing was kept.
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    if [ -n "$artifact" ] && [ -f "$artifact" ]; then
      echo "-- $name failing input ($(stat -c %s "$artifact") bytes): $artifact"
      if command -v xxd >/dev/null; then xxd "$artifact"; else od -A x -t x1z "$artifact"; fi | head -n 40
    else
      echo "-- $name wrote no failing input"
    fi
    echo "$name failed"; rm -rf "$corpus" "$log"; exit 1
  fi
  tail -n 4 "$log"
  rm -rf "$corpus" "$log"
done
