#!/usr/bin/env bash
# Builds the fuzz target of the INI reader and the list file layer with clang,
# replays the seed corpus and then fuzzes for a bounded time:
# fuzz/run.sh [seconds, default 60].
# New inputs go to a scratch folder; the checked-in seeds are not changed.
set -euo pipefail
seconds=${1:-60}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
seeds=$top/fuzz/corpus/profile

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOICELIB_FUZZ=ON -DVOICELIB_TESTS=OFF -DVOICELIB_BENCH=OFF -DVOICELIB_GUI=OFF >/dev/null
cmake --build "$build" --target profile_fuzzer
fuzzer=$build/fuzz/profile_fuzzer

echo "== replaying $(find "$seeds" -type f | wc -l) seeds"
"$fuzzer" -rss_limit_mb=1024 -timeout=5 "$seeds"/*

echo "== fuzzing for ${seconds}s"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$fuzzer" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=1024 -timeout=5 \
  -dict="$top/fuzz/profile.dict" -print_final_stats=1 -artifact_prefix="$build/" \
  "$work" "$seeds"
