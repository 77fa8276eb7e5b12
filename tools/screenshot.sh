#!/usr/bin/env bash
# Makes docs/screenshot.png, the README's picture of the window, on a virtual
# X server (Xvfb): the example voices listed, grabbed by the window program's
# own code. Builds what it needs into build/ (or $BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_TARGETS=voicelib-screenshot "$top/tools/build.sh" "$@"
build=${BUILD_DIR:-$top/build}
out=${SCREENSHOT:-$top/docs/screenshot.png}
# The rows show full paths: list the examples from a plain folder, not this checkout.
demo=${TMPDIR:-/tmp}/voicelib-demo
rm -rf "$demo" && mkdir -p "$demo/prompts" && cp "$top"/examples/voices/*.wav "$demo/prompts/"
trap 'rm -rf "$demo"' EXIT
env -u WAYLAND_DISPLAY -u DISPLAY QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
    "$build/app/voicelib-screenshot" "$demo/prompts" "$out"
echo "screenshot: $out"
