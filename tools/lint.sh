#!/usr/bin/env bash
# Checks the house style: clang-format on every C++ file the repository tracks, clang-tidy with the
# project's .clang-tidy (tests/.clang-tidy and its links in every tests/ folder relax it for tests)
# on the project's own translation units.
#   tools/lint.sh [all|format|tidy] [file...]     (default all, every file)
# Files given narrow both checks to them (paths from the repository root). clang-tidy reads
# compile_commands.json from TARN1_LINT_BUILD, default build/lint: a tree configured (never built)
# on every run, without precompiled headers, because clang cannot read the ones GCC writes into
# the other build trees. One clang-tidy runs per core (TARN1_LINT_JOBS). Exits 1 with the list of
# findings.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
what=${1:-all}
shift || true
build=${TARN1_LINT_BUILD:-$root/build/lint}
jobs=${TARN1_LINT_JOBS:-$(nproc)}

case "$what" in
    all|format|tidy) ;;
    *) echo "lint: unknown check '$what' (all, format or tidy)" >&2; exit 2 ;;
esac
for tool in clang-format clang-tidy; do
    command -v "$tool" >/dev/null || { echo "lint: $tool is missing; run tools/setup.sh" >&2; exit 2; }
done

if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files -- '*.cpp' '*.hpp' '*.h' '*.cc' '*.c')
fi

status=0

if [ "$what" != tidy ]; then
    start=$SECONDS
    # One line per file that is not in the house format; the diff is one clang-format -i away.
    mapfile -t unformatted < <(clang-format --dry-run --Werror "${files[@]}" 2>&1 \
        | sed -n 's|^\([^:]*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*|\1|p' | sort -u)
    if [ ${#unformatted[@]} -gt 0 ]; then
        status=1
        printf 'lint: not in the house format (clang-format -i fixes it): %s\n' "${unformatted[@]}"
    fi
    echo "lint: clang-format checked ${#files[@]} files in $((SECONDS - start)) s, ${#unformatted[@]} to format"
fi

if [ "$what" != format ]; then
    start=$SECONDS
    if [ -z "${TARN1_LINT_BUILD:-}" ]; then
        # clang-tidy needs only the compile commands (nothing is generated that a source includes);
        # configuring again picks up new files and takes about a second.
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON -DTARN1_BUILD_TESTS=ON -DTARN1_BUILD_BENCHMARKS=ON >/dev/null
    elif [ ! -f "$build/compile_commands.json" ]; then
        echo "lint: $build has no compile_commands.json; configure it first" >&2
        exit 2
    fi
    # The project's own translation units: in the compile database and tracked by git. That leaves
    # out whatever a build generates and anything the database does not hold (the clang-only fuzz
    # targets).
    mapfile -t units < <(
        comm -12 \
            <(sed -n 's|^ *"file": *"'"$root"'/\(.*\)",\{0,1\}$|\1|p' "$build/compile_commands.json" | sort -u) \
            <(printf '%s\n' "${files[@]}" | sort -u))
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    if [ ${#units[@]} -gt 0 ]; then
        # One report per unit so that parallel runs do not interleave. A unit with findings makes
        # clang-tidy exit 0 (warnings) or 1 (errors, listed too); any other failure is kept apart.
        printf '%s\n' "${units[@]}" | xargs -P "$jobs" -I{} sh -c \
            'report="$3/$(echo "$2" | tr / _)"
             clang-tidy --quiet -p "$1" "$2" >"$report.txt" 2>"$report.err" || echo "$2" >"$report.failed"' \
            sh "$build" {} "$out"
    fi
    # clang-tidy that stopped without saying why (a crash, a bad configuration) is a finding too.
    for failed in "$out"/*.failed; do
        [ -e "$failed" ] || continue
        report=${failed%.failed}
        if ! grep -q ': error: ' "$report.txt"; then
            status=1
            echo "lint: clang-tidy failed on $(cat "$failed"):"
            tail -n 5 "$report.err"
        fi
    done
    # A header's finding is reported by every unit that includes it: list it once, by its path in
    # the repository (units see headers through the build's include roots, see cmake/).
    mapfile -t findings < <(cat "$out"/*.txt 2>/dev/null \
        | sed -n 's|^'"$build"'/include_roots/[^/]*/||; s|^'"$root"'/||; /: \(warning\|error\): /p' | sort -u)
    if [ ${#findings[@]} -gt 0 ]; then
        status=1
        printf '%s\n' "${findings[@]}"
        echo "lint: clang-tidy findings by check:"
        printf '%s\n' "${findings[@]}" | sed -n 's/.*\[\([^]]*\)\]$/\1/p' | sort | uniq -c | sort -rn
    fi
    echo "lint: clang-tidy checked ${#units[@]} units in $((SECONDS - start)) s, ${#findings[@]} findings"
fi

[ "$status" -eq 0 ] && echo "lint: clean"
exit "$status"
