#!/usr/bin/env bash
# Builds the Debian package as a Debian build would (Release, with the
# compiler and linker flags of dpkg-buildflags, every hardening feature on),
# in a build directory of its own, and checks it with lintian: any error or
# warning fails.
#   scripts/package.sh        writes build-package/calvaro-client_<version>_<arch>.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_PACKAGE_BUILD_DIR:-$root/build-package}"

"$root/scripts/install-deps.sh" >/dev/null
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
flags() { dpkg-buildflags --get "$1"; }
# A fresh directory, so that no cached flags or stale files reach the package.
rm -rf "$build"
mkdir -p "$build"
# Stripped as a Debian build strips: the compiler's version notes go too.
printf '#!/bin/sh\nexec strip --remove-section=.comment --remove-section=.note "$@"\n' >"$build/strip"
chmod +x "$build/strip"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_STRIP="$build/strip" \
    -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCALVARO_BUILD_TESTS=OFF -DCALVARO_BUILD_DEVSERVER=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1 || { tail -n 30 "$build/build.log" >&2; exit 1; }
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
package="$(ls "$build"/calvaro-client_*.deb)"
echo "package: $package"
dpkg-deb --contents "$package" | awk '{print "  " $6}'
# Informational tags are printed for a reader to judge; they do not fail.
lintian --fail-on error,warning --info --display-info --pedantic --tag-display-limit 0 "$package"
echo "package: lintian found no errors or warnings"
