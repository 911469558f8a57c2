#!/usr/bin/env bash
# Counts the instructions that the job table's refresh runs (under
# callgrind), with a journal or a filter and without, so that the two job
# list rows whose goals are a few percent can be judged apart from the
# machine's changing speed. Only the panel's handling of each reply is
# counted; the refreshes after the first are isolated by running each child
# with N and with 2N refreshes and taking the difference.
# Takes about eight minutes.
#   scripts/bench-instructions.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_BENCH_BUILD_DIR:-$root/build-bench}"
refreshes=6

"$root/scripts/install-deps.sh" >/dev/null
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCALVARO_WERROR=ON \
    -DCALVARO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target calvaro_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Instructions of ROWS-row refreshes with OPTION ("" for none), REFRESHES of them.
count() {
    local rows=$1 refreshes=$2 option=$3 out="$work/callgrind.out"
    QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$out" \
        --toggle-collect='VLK::StatusWidget::fillJobTable()' \
        "$build/bench/calvaro_bench" joblist-client "$rows" "$refreshes" 0 0 changing \
        ${option:+"$option"} >/dev/null 2>&1
    callgrind_annotate "$out" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'
}

# Instructions per later refresh.
later() {
    local once twice
    once=$(count "$1" "$refreshes" "$2")
    twice=$(count "$1" $((2 * refreshes)) "$2")
    echo $(((twice - once) / refreshes))
}

compare() {
    local name=$1 rows=$2 option=$3 baseline=$4 with without
    with=$(later "$rows" "$option")
    without=$(later "$rows" "$baseline")
    awk -v n="$name" -v a="$with" -v b="$without" \
        'BEGIN { printf "| %s | %.1f M | %.1f M | %.3f |\n", n, a / 1e6, b / 1e6, a / b }'
}

echo "| later refresh, instructions | with | without | ratio |"
echo "|---|---|---|---|"
compare "10,000 rows, 1,000 of them journalled (user3)" 10000 journal:1000 journal:0
compare "20,000 rows, \"user3\" in the filter" 20000 filter:user3 ""
