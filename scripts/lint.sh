#!/usr/bin/env bash
# Format and analyser checks of the programs' and the stand-in server's own
# sources: clang-format (against .clang-format), clang-tidy (against
# .clang-tidy) and clazy's Qt checks. Fails on any difference or finding.
#   scripts/lint.sh              all three
#   scripts/lint.sh --format     only the format check (seconds)
#   scripts/lint.sh --fix        rewrite the files in clang-format's layout, then check
# The analysers need the generated headers of a configured build; that build
# lives in build-lint/ (CALVARO_LINT_BUILD_DIR) and only its code generators run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CALVARO_LINT_BUILD_DIR:-$root/build-lint}"
mode="${1:-all}"
jobs="$(nproc)"
checked_dirs=(src cli devserver)

# Level 0 and 1 of clazy, less connect-by-name: the designer's on_<object>_<signal>
# slots are how the forms are wired, on purpose.
clazy_checks="level1,no-connect-by-name"

cd "$root"
mapfile -t sources < <(git ls-files -- "${checked_dirs[@]}" | grep -E '\.(cpp|h)$')
mapfile -t units < <(printf '%s\n' "${sources[@]}" | grep -E '\.cpp$')

if [ "$mode" = "--fix" ]; then
    clang-format -i "${sources[@]}"
fi

echo "== Format (${#sources[@]} files)"
if ! clang-format --dry-run -Werror "${sources[@]}"; then
    echo "lint: format differs; scripts/lint.sh --fix rewrites the files" >&2
    exit 1
fi
[ "$mode" = "--format" ] && exit 0

echo "== Generated headers for the analysers"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCALVARO_BUILD_TESTS=OFF -DCALVARO_BUILD_DEVSERVER=ON >/dev/null
autogen_targets=(calvaro_protocol_autogen calvaro_client_autogen calvaro_devserver_core_autogen
                 CalvaroClient_autogen calvaro-devserver_autogen calvaro_autogen)
cmake --build "$build" -j "$jobs" --target "${autogen_targets[@]}" >/dev/null

status=0
echo "== clang-tidy (${#units[@]} units)"
tidy_log="$build/clang-tidy.log"
printf '%s\n' "${units[@]}" \
    | xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet >"$tidy_log" 2>&1 || status=1
grep -E 'warning:|error:' "$tidy_log" | sort -u || true
[ $status -eq 0 ] || echo "lint: clang-tidy findings above (whole log: $tidy_log)" >&2

echo "== clazy ($clazy_checks)"
clazy_log="$build/clazy.log"
printf '%s\n' "${units[@]}" \
    | xargs -P "$jobs" -n 4 clazy-standalone -p "$build" --checks="$clazy_checks" \
        --header-filter="$root/(src|cli|devserver)/" >"$clazy_log" 2>&1 || true
if grep -qE 'warning:|error:' "$clazy_log"; then
    grep -E 'warning:|error:' "$clazy_log" | sort -u
    echo "lint: clazy findings above (whole log: $clazy_log)" >&2
    status=1
fi

[ $status -eq 0 ] && echo "lint: clean"
exit $status
