#!/usr/bin/env bash
# Builds the Debian package: a release build of the two programs and their
# conversion module with Debian's hardening flags (no tests, no benchmarks)
# into build-package/ (or $BUILD_DIR), then `cpack -G DEB` there. The last line printed is the package's path.
# Extra arguments go to cmake.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/tools/setup.sh"
build=${BUILD_DIR:-$top/build-package}
werror=OFF
[[ -n "${CI:-}" ]] && werror=ON
cd "$top"
# Debian's hardening flags, with immediate binding as well.
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+bindnow}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" \
  "-DCMAKE_MODULE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" \
  -DVOICELIB_TESTS=OFF -DVOICELIB_BENCH=OFF -DVOICELIB_WERROR=$werror "$@" >/dev/null
cmake --build "$build"
rm -f "$build"/voicelib_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/voicelib_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "$deb"
