#!/usr/bin/env bash
# Installs what is missing, checks the format and runs the analysers
# (scripts/lint.sh), then builds with warnings as errors and runs every test,
# once with Qt 5 and once with Qt 6; builds the Debian package and checks it
# with lintian; runs the whole suite again on a build with address and
# undefined-behaviour sanitizers, and each fuzz target for a short while.
#   scripts/test.sh            all of it
#   scripts/test.sh --quick    the format check and the two plain builds with
#                              their tests (the analysers run in the full run,
#                              and alone: scripts/lint.sh)
# The plain builds go to build-test-qt5/ and build-test-qt6/
# (CALVARO_TEST_BUILD_DIR=dir: dir-qt5/ and dir-qt6/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_TEST_BUILD_DIR:-$root/build-test}"
quick=false
[ "${1:-}" = "--quick" ] && quick=true

"$root/scripts/install-deps.sh"

if $quick; then
    "$root/scripts/lint.sh" --format
else
    "$root/scripts/lint.sh"
fi

for qt in 5 6; do
    echo "== Tests with Qt $qt"
    cmake -S "$root" -B "$build-qt$qt" -DCMAKE_BUILD_TYPE=Debug -DCALVARO_WERROR=ON -DCALVARO_QT_MAJOR=$qt \
        -DCALVARO_BUILD_TESTS=ON -DCALVARO_BUILD_DEVSERVER=ON >/dev/null
    cmake --build "$build-qt$qt" -j "$(nproc)"
    (cd "$build-qt$qt" && ctest --output-on-failure)
done
$quick && exit 0

echo "== Debian package"
"$root/scripts/package.sh"

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
"$root/scripts/sanitize.sh"

echo "== Fuzzing, 30 s a target"
"$root/scripts/fuzz.sh" 30
