#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (Release) in a build
# directory of their own and runs them all, printing one table of results.
# Takes a few minutes and about 2.2 GB in the temporary directory.
#   scripts/bench.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_BENCH_BUILD_DIR:-$root/build-bench}"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCALVARO_WERROR=ON \
    -DCALVARO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target calvaro_bench
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "$(free -m | awk '/^Mem:/ {print $2}') MiB RAM; $(date -u '+%Y-%m-%d %H:%M UTC')"
"$build/bench/calvaro_bench"
