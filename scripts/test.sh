#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test;
# then runs the whole suite again on a build with address and undefined-
# behaviour sanitizers, and each fuzz target for a short while.
#   scripts/test.sh            all three
#   scripts/test.sh --quick    only the plain build and its tests
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_TEST_BUILD_DIR:-$root/build-test}"
quick=false
[ "${1:-}" = "--quick" ] && quick=true

"$root/scripts/install-deps.sh"

echo "== Tests"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCALVARO_WERROR=ON \
    -DCALVARO_BUILD_TESTS=ON -DCALVARO_BUILD_DEVSERVER=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && ctest --output-on-failure)
$quick && exit 0

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
"$root/scripts/sanitize.sh"

echo "== Fuzzing, 30 s a target"
"$root/scripts/fuzz.sh" 30
