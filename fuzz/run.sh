#!/usr/bin/env bash
# Builds the fuzz targets (the INI reader and the list file layer, the WAVE
# probe, the library reader, the prompt script reader) with clang, replays each
# one's seed corpus and then fuzzes them in turn, sharing a bounded time:
# fuzz/run.sh [seconds in all, default 60].
# New inputs go to a scratch folder; the checked-in seeds are not changed.
set -euo pipefail
seconds=${1:-60}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
# target, seed folder, largest input, dictionary
targets=(
  "profile_fuzzer profile 4096 $top/fuzz/profile.dict"
  "wave_fuzzer wave 1024 $top/fuzz/wave.dict"
  "library_fuzzer library 8192 $top/fuzz/library.dict"
  "prompt_script_fuzzer prompt_script 4096 $top/fuzz/prompt_script.dict"
)
each=$((seconds / ${#targets[@]}))

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOICELIB_FUZZ=ON -DVOICELIB_TESTS=OFF -DVOICELIB_BENCH=OFF -DVOICELIB_GUI=OFF >/dev/null
cmake --build "$build" --target profile_fuzzer wave_fuzzer library_fuzzer prompt_script_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  read -r name corpus maxlen dict <<<"$t"
  fuzzer=$build/fuzz/$name
  seeds=$top/fuzz/corpus/$corpus
  echo "== $name: replaying $(find "$seeds" -type f | wc -l) seeds"
  "$fuzzer" -rss_limit_mb=1024 -timeout=5 "$seeds"/*
  echo "== $name: fuzzing for ${each}s"
  mkdir -p "$work/$name"
  "$fuzzer" -max_total_time="$each" -max_len="$maxlen" -rss_limit_mb=1024 -timeout=5 \
    -dict="$dict" -print_final_stats=1 -artifact_prefix="$build/$name-" \
    "$work/$name" "$seeds"
done
