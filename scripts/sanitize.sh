#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite on that build.
#   scripts/sanitize.sh              every test
#   scripts/sanitize.sh -R pattern   only the tests whose names match
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_SANITIZE_BUILD_DIR:-$root/build-asan}"

"$root/scripts/install-deps.sh" >/dev/null
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCALVARO_WERROR=ON -DCALVARO_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$build"
ctest --output-on-failure "$@"
