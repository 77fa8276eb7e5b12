#!/usr/bin/env bash
# Prints each test the last CTest run skipped, with the reason the test gave
# (GTEST_SKIP() << "why", or a line "Skipped: why" before a test program exits
# with its SKIP_RETURN_CODE): CTest's own summary names skipped tests but not why.
# Usage: tools/skip-reasons.sh [build folder, default build/ or $BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-${BUILD_DIR:-$top/build}}
log=$build/Testing/Temporary/LastTest.log
[[ -f $log ]] || exit 0
skipped=$(awk '
  /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); why = ""; said = ""; gtest = 0; inskip = 0; next }
  /^\[==========\]/ { gtest = 1 }
  /^\[  SKIPPED \]/ { inskip = 0; next }
  inskip { if ($0 != "") why = why (why == "" ? "" : " ") $0; next }
  /: Skipped$/ { inskip = 1; next }
  /^Skipped: / { said = substr($0, 10); next }
  /^Skip regular expression found in output/ {
    print "  " name ": " (why == "" ? "(no reason given)" : why)
  }
  # A program that exits with its SKIP_RETURN_CODE is logged as passed; it said why on its way out.
  /^Test Passed\.$/ && said != "" && !gtest { print "  " name ": " said }' "$log" | sort)
[[ -z $skipped ]] || printf 'Skipped, and why:\n%s\n' "$skipped"
