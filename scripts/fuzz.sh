#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) and runs each on its committed seed corpus.
#   scripts/fuzz.sh            30 seconds per target
#   scripts/fuzz.sh 600        ten minutes per target
# New inputs found go to a scratch corpus (fuzz-out/), never into the seeds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
build="${CALVARO_FUZZ_BUILD_DIR:-$root/build-fuzz}"
out="$root/fuzz-out"

"$root/scripts/install-deps.sh" >/dev/null
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCALVARO_BUILD_FUZZ=ON -DCALVARO_SANITIZE=ON -DCALVARO_BUILD_TESTS=OFF -DCALVARO_BUILD_DEVSERVER=ON \
    -DCALVARO_WERROR=ON >/dev/null
targets=$(sed -n 's/^ *calvaro_add_fuzzer(\([a-z_]*\) .*/\1/p' "$root/fuzz/CMakeLists.txt")
cmake --build "$build" -j "$(nproc)" --target $targets >"$build/build.log" 2>&1 \
    || { tail -n 30 "$build/build.log" >&2; exit 1; }

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in $targets; do
    seeds="$root/fuzz/corpus/${target#fuzz_}"
    mkdir -p "$out/$target"
    binary=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
    echo "== $target: $seconds s on $(ls "$seeds" | wc -l) seeds"
    "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$out/$target-" "$out/$target" "$seeds" 2>&1 \
        | grep -E '^(#[0-9]+[[:space:]]+DONE|Done|stat::number_of_executed_units|stat::peak_rss_mb|INFO: Loaded|==[0-9]+==ERROR|SUMMARY)' || true
    if ls "$out/$target-"* >/dev/null 2>&1; then
        echo "fuzz: $target found a failing input: $(ls "$out/$target-"*)" >&2
        exit 1
    fi
done
echo "fuzz: no findings"
