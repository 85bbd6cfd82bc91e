#!/usr/bin/env bash
# Fails when a ctest run skipped a test that tests/skips_allowed.txt does not allow for the flavour.
#   tools/check_skips.sh <flavour> <ctest output> [allow-list]
# tools/test.sh calls it with CI=true, so that a machine without root, namespaces or a package
# cannot turn green by skipping what it cannot run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=$1
log=$2
allow_list=${3:-$root/tests/skips_allowed.txt}

# ctest lists every test that did not run ("Skipped", "Not Run", "Disabled") after its summary.
mapfile -t not_run < <(sed -n '/^The following tests did not run:/,/^[^ \t]/s/^[ \t]*[0-9]* - \(.*\) ([A-Za-z ]*)$/\1/p' "$log")

refused=()
for name in "${not_run[@]}"; do
    allowed=false
    while read -r flavours pattern _; do
        case "$flavours" in '' | '#'*) continue ;; esac
        [[ ",$flavours," == *",$flavour,"* || "$flavours" == "*" ]] || continue
        # shellcheck disable=SC2053 # the allow-list holds shell patterns
        if [[ "$name" == $pattern ]]; then
            allowed=true
            break
        fi
    done <"$allow_list"
    $allowed || refused+=("$name")
done

if [ ${#refused[@]} -gt 0 ]; then
    printf 'test: skipped in the %s run and not allowed by %s: %s\n' "$flavour" "${allow_list#"$root"/}" "${refused[@]}" >&2
    exit 1
fi
echo "test: ${#not_run[@]} skipped in the $flavour run, all allowed"
