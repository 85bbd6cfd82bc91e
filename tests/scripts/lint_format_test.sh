#!/usr/bin/env bash
# tools/lint.sh format on files in and out of the house format.
#   lint_format_test.sh <scratch folder inside the repository, so the project's .clang-format applies>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d "$1/lint_format.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

printf 'namespace tarn1\n{\nint answer()\n{\n    return 42;\n}\n} // namespace tarn1\n' >"$scratch/formatted.cpp"
printf 'namespace tarn1 {\nint answer() { return 42; }\n}\n' >"$scratch/unformatted.cpp"

failures=0
status=0
"$root/tools/lint.sh" format "$scratch/formatted.cpp" >"$scratch/out" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: a formatted file is refused"
    cat "$scratch/out"
    failures=$((failures + 1))
fi

status=0
"$root/tools/lint.sh" format "$scratch/formatted.cpp" "$scratch/unformatted.cpp" >"$scratch/out" 2>&1 || status=$?
if [ "$status" -ne 1 ] || ! grep -q "unformatted.cpp" "$scratch/out" || grep -q "/formatted.cpp" "$scratch/out"; then
    echo "FAIL: the unformatted file is not the one named (status $status)"
    cat "$scratch/out"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "lint format: all cases pass"
exit "$failures"
