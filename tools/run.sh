#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window program.
# Without a display it says so and shows through the command line what it
# would have shown: the bundled example voices built into a library and described.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/tools/build.sh"
build=${BUILD_DIR:-$top/build}
if [[ -z "${QT_QPA_PLATFORM:-}" && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): the window cannot be shown."
    echo "Building the example voices with the command line instead."
    out=${1:-$build/examples.bin}
    "$build/cli/voicelib" build -o "$out" "$top"/examples/voices/*.wav
    "$build/cli/voicelib" info "$out"
    exit 0
fi
exec "$build/app/voicelib-gui"
