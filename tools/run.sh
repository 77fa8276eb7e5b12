#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window program.
# Without a display it says so and shows through the command line what it
# would have shown: the bundled example voices built into a library and described.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Only the two programs: the tests and benchmarks are tools/test.sh's business,
# and it shares the same build folder and configuration.
BUILD_TARGETS="voicelib voicelib-gui" "$top/tools/build.sh"
build=${BUILD_DIR:-$top/build}

without_display() {
    echo "No display: the window cannot be shown."
    echo "Building the example voices with the command line instead."
    out=$build/examples.bin
    "$build/cli/voicelib" build -o "$out" "$top"/examples/voices/*.wav
    "$build/cli/voicelib" info "$out"
}

if [[ -z "${QT_QPA_PLATFORM:-}" && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    without_display
    exit 0
fi
# voicelib-gui exits with 2 when a display is named but cannot be opened.
status=0
"$build/app/voicelib-gui" || status=$?
if [[ $status -eq 2 ]]; then
    without_display
    exit 0
fi
exit $status
