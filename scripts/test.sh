#!/usr/bin/env bash
# Builds Korvo and runs the whole test suite.
#   scripts/test.sh            plain build in build/
#   KORVO_SANITIZE=1 scripts/test.sh   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
if [ "${KORVO_SANITIZE:-0}" != 0 ]; then
  dir="$top/build-asan"; flags=(-DKORVO_SANITIZE=ON -DKORVO_BENCH=OFF)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  dir="$top/build"; flags=()
fi
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
status=0
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 300 || status=$?
# Why each skipped test did not run (tests that need root, mounts of their own, ...).
skipped=$("$top/scripts/skipped.sh" "$dir")
[ -z "$skipped" ] || printf 'Skipped, and why:\n%s\n' "$(sed 's/^/  /' <<<"$skipped")"
exit "$status"
