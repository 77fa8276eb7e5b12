#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program.
# For now: builds the bundled example voices into a library and describes it.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/tools/build.sh"
build=${BUILD_DIR:-$top/build}
out=${1:-$build/examples.bin}
"$build/cli/voicelib" build -o "$out" "$top"/examples/voices/*.wav
"$build/cli/voicelib" info "$out"
