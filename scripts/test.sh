#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test.
#   scripts/test.sh              the whole suite
#   scripts/test.sh -R pattern   only the tests whose names match
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_TEST_BUILD_DIR:-$root/build-test}"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCALVARO_WERROR=ON -DCALVARO_BUILD_TESTS=ON -DCALVARO_BUILD_DEVSERVER=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure "$@"
