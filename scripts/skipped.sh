#!/usr/bin/env bash
# Names each test that CTest's last run in a build folder skipped, with the
# reason the test gave (CTest's own summary only lists them).
#   scripts/skipped.sh BUILD_DIR
set -euo pipefail
log="$1/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0
# GoogleTest writes "FILE:LINE: Skipped" and the reason on the next line.
awk '/^[0-9]+\/[0-9]+ Test: / { name = $3; next }
     name != "" && /: Skipped$/ { if ((getline why) > 0 && why != "" && why !~ /^\[  SKIPPED \]/) print name ": " why; else print name; name = "" }' "$log"
