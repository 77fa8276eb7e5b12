#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/tools/build.sh" "$@"
build=${BUILD_DIR:-$top/build}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
# Tests labelled wayland repeat window tests under a compositor (see .ci/run).
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE wayland || status=$?
"$top/tools/skip-reasons.sh" "$build"
exit $status
